#pragma once

namespace vornel {

class TPellum;

// Gives an archive component the values the packer stores for it, in declaration order: each
// archive then holds exactly one entry under the bare file name, deflated at the highest level,
// with no folder entries, written in place (FastSave) without temporary files.
void ConfigurePellum1(TPellum& pellum);

// The zlib level those values select; the deflate bytes of every archive depend on it.
int PackLevel();

} // namespace vornel
