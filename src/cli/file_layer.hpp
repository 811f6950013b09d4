// The file layer of textmend, as textmend-report, textmend-tree and the
// Python binding use it: converting one file safely (file_conversion.hpp),
// opening inputs and walking paths without following another user's links,
// reading and writing descriptors, messages, the kernel notice of --version,
// the page memory, starting and waiting of the programs' second threads, and
// the undoing of text encoded twice that a conversion reads through (for an
// inspection that must see what the conversion will see). The folders below
// cli/ are the layer's own; other programs include this header only.
#pragma once

#include "cli/command/kernel_notice.hpp"
#include "cli/command/messages.hpp"
#include "cli/descriptors/fd_io.hpp"
#include "cli/descriptors/input_file.hpp"
#include "cli/descriptors/path_walk.hpp"
#include "cli/descriptors/standard_descriptors.hpp"
#include "cli/file_conversion.hpp"
#include "cli/writer/page_memory.hpp"
#include "cli/writer/placed_thread.hpp"
#include "cli/writer/spinning_condition.hpp"
#include "convert/undo_double_stream.hpp"
