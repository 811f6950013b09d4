#include "cli/writer/thread_signals.hpp"

namespace textmend {

MaskForNewThread::MaskForNewThread() : saved_{} {}

MaskForNewThread::~MaskForNewThread() = default;

}  // namespace textmend
