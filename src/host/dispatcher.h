// What the host does with the control messages and file pieces a signed-in
// link sends. Runs on the link's session thread, one message at a time per
// link; replies go to the same link. Every failure is logged or answered,
// never passed back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "files/file_transfers.h"
#include "ink/ink.h"
#include "control/messages.h"
#include "util/bytes.h"

namespace vorlix {

class HostState;
struct SessionRecord;
struct KeyboardLayout;

enum class ControlOutcome { Continue, Goodbye };

struct KeyFiles;

// A send link's own file-transfer table, used for incoming files only. The
// send links of one key share one count of open files (`key`, which holds
// `counted` of this table's).
struct LinkFiles {
    FileTransfers transfers;
    std::shared_ptr<KeyFiles> key;
    std::size_t counted = 0;
};

// Drops the link's unfinished incoming files and their count (at its end).
void drop_link_files(LinkFiles& files);

// One Control frame's body. A body that does not read is dropped without a
// log line; `bye` ends the link (Goodbye) and never reaches the dispatcher.
ControlOutcome handle_control_body(HostState& host, SessionRecord& record, ByteView body);

// One message that read.
void handle_control_message(HostState& host, SessionRecord& record, ControlMessage message);

// One FileData piece (the transfer id and the bytes), handled as the
// fileChunk message it stands for.
void handle_file_piece(HostState& host, SessionRecord& record, std::uint32_t id, ByteView data);

// An annotate from the session in control: the stroke gets the device's name
// as author, goes into the host's strokes, onto the PC's screen and to every
// watcher.
void apply_annotation(HostState& host, const SessionRecord& record, InkEvent event);

// Starts "vorlix-keyboard" for the session in control, once per session.
void start_keyboard_layout_watch(HostState& host, std::uint64_t session);

// The keyboardLayout message of a layout.
control::KeyboardLayout keyboard_layout_message(const KeyboardLayout& layout);

}  // namespace vorlix
