#pragma once

// Helpers for the adding tests: archives opened on disk, little-endian field access, reference
// deflate data from zlib used the plain way and from Python, and the peers' verdicts.

#include "platform/Stream.h"
#include "zip/Pellum.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel::test {

std::uint16_t Le16(const std::string& bytes, std::size_t at);
std::uint32_t Le32(const std::string& bytes, std::size_t at);

// Deflate data as one deflate stream gives them when all input is fed in one call with no flush
// and drained through 64 KiB buffers (the zlib header and trailer cut off). progress receives
// the input consumed each time a buffer fills while input is fed.
std::string ModelDeflate(const std::string& data, int level,
                         std::vector<std::int64_t>* progress = nullptr);

// zlib.compress(input, level)[2:-4] from Python for every input and level: result[input][level
// index].
std::vector<std::vector<std::string>> PythonDeflate(const std::vector<std::string>& inputs,
                                                    const std::vector<int>& levels,
                                                    const std::string& scratchDir);

// Python's zipfile: "" when testzip() finds nothing wrong, else its complaint.
std::string PythonZipCheck(const std::string& archive);
// Extracts the archive with Python's zipfile into dir; false on any failure.
bool PythonExtract(const std::string& archive, const std::string& dir);
// unzip -t; true when it reports no errors.
bool UnzipTest(const std::string& archive);

// The peers' verdict on an archive whose own checks have passed: Python's zipfile and, with
// unzip as well, unzip -t. Where a peer is missing (a Windows run has neither) the test is marked
// skipped with the reason, after everything else in it has run.
void ExpectPeersAccept(const std::string& archive, bool withUnzip = false);

// An archive file made empty and opened in a component.
void CreateAndOpen(TPellum& zip, const std::string& path);

// Some text-like bytes that compress well (seeded, so every run sees the same bytes).
std::string TextBytes(std::size_t count, unsigned seed);

} // namespace vornel::test
