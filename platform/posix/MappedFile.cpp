#include "platform/MappedFile.h"

#include "platform/Errors.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace vornel {

MappedFile::MappedFile(FileStream& file, std::int64_t offset, std::size_t length)
    : length_(length) {
  if (length == 0)
    return;
  const auto page = static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
  const std::int64_t start = offset - offset % page;
  skip_ = static_cast<std::size_t>(offset - start);
  void* base = ::mmap(nullptr, skip_ + length_, PROT_READ, MAP_PRIVATE,
                      static_cast<int>(file.Handle()), static_cast<off_t>(start));
  if (base == MAP_FAILED)
    RaiseIoErrorFromErrno(errno);
  base_ = base;
  // A hint only: the pages are read front to back once.
  ::madvise(base_, skip_ + length_, MADV_SEQUENTIAL);
}

MappedFile::~MappedFile() {
  if (base_ != nullptr)
    ::munmap(base_, skip_ + length_);
}

namespace {

thread_local sigjmp_buf* activeGuard = nullptr;
struct sigaction formerBusAction {};

extern "C" void OnBusError(int signal, siginfo_t* info, void* context) {
  if (activeGuard != nullptr)
    siglongjmp(*activeGuard, 1);
  // Not ours: hand the fault to whoever handled it before; the faulting access repeats.
  (void)signal;
  (void)info;
  (void)context;
  ::sigaction(SIGBUS, &formerBusAction, nullptr);
}

void InstallBusHandler() {
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &formerBusAction);
}

} // namespace

bool RunOverMappedPages(void (*work)(void* context), void* context) {
  static std::once_flag installed;
  std::call_once(installed, InstallBusHandler);
  sigjmp_buf guard;
  // The signal mask is saved, so the jump back leaves SIGBUS unblocked again.
  if (sigsetjmp(guard, 1) != 0) {
    activeGuard = nullptr;
    return false;
  }
  activeGuard = &guard;
  work(context);
  activeGuard = nullptr;
  return true;
}

} // namespace vornel
