#include "tools/inspect/command_timeline.h"

#include "tools/hostlib/disassembler.h"
#include "tools/hostlib/reply_decoder.h"
#include "tools/hostlib/text_escape.h"

namespace nimbra {

namespace {

// Very long lines (uploads of data) keep their start.
std::string _Shortened(std::string text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t cut = limit;
    while (cut > 0 && ((unsigned char)text[cut] & 0xC0) == 0x80) cut--;   // not inside a UTF-8 character
    const size_t more = text.size() - cut;
    text.resize(cut);
    return text + " ... (" + std::to_string(more) + " more characters)";
}

constexpr size_t kHexBytes = 48;

}  // namespace

CommandTimeline::CommandTimeline(const uint8_t *recording, TimelineSink &sink) : recording_(recording), sink_(sink) {
    CommandEntry startUp;
    startUp.state = CommandState::StartUp;
    startUp.text = "start-up";
    startUp.note = "the device starts and shows its boot screen";
    head_.push_back(std::move(startUp));
}

CommandEntry &CommandTimeline::_Current() { return tail_.empty() ? head_.back() : tail_.back(); }

FrameCommands CommandTimeline::_List() const {
    FrameCommands list;
    list.commands.reserve(head_.size() + tail_.size());
    list.commands.insert(list.commands.end(), head_.begin(), head_.end());
    list.leftOut = leftOut_;
    list.leftOutAt = leftOut_ ? head_.size() : 0;
    list.commands.insert(list.commands.end(), tail_.begin(), tail_.end());
    return list;
}

void CommandTimeline::_EndCurrent() {
    if (pending_.empty()) return;
    // The first frame it showed lists everything since the previous frame;
    // any further one shows only this command.
    sink_.frameCommands(pending_[0], _List());
    FrameCommands alone;
    alone.commands.push_back(_Current());
    for (size_t i = 1; i < pending_.size(); i++) sink_.frameCommands(pending_[i], alone);
    pending_.clear();
    head_.clear();
    tail_.clear();
    leftOut_ = 0;
}

void CommandTimeline::_Add(CommandEntry entry) {
    _EndCurrent();
    stoppedPayload_ = nullptr;
    if (head_.size() < kCommandsKept / 2) {
        head_.push_back(std::move(entry));
        return;
    }
    tail_.push_back(std::move(entry));
    if (tail_.size() > kCommandsKept / 2) {
        tail_.pop_front();
        leftOut_++;
    }
}

void CommandTimeline::commandStarted(const RunCommand &c) {
    const DisassembledCommand d = disassembleCommand(c.payload, c.payloadBytes, c.payloadOffset);
    CommandEntry entry;
    entry.offset = c.offset;
    entry.text = _Shortened(d.text, kTextChars);
    entry.note = d.note;
    _Add(std::move(entry));
    commandCount_++;
    // Kept to list what the device skips should this command stop its record.
    stoppedPayload_ = c.payload;
    stoppedPayloadBytes_ = c.payloadBytes;
    stoppedPayloadOffset_ = c.payloadOffset + d.length;
    stoppedRecordOffset_ = c.offset - c.payloadOffset;
}

void CommandTimeline::commandStopped() {
    _Current().state = CommandState::Stopped;
    if (!stoppedPayload_ || stoppedPayloadOffset_ >= stoppedPayloadBytes_) return;
    // The bytes after a command the device refused without knowing its end.
    CommandEntry rest;
    rest.state = CommandState::NotRun;
    rest.offset = stoppedRecordOffset_ + stoppedPayloadOffset_;
    std::string text = "bytes ";
    appendHexBytes(text, stoppedPayload_ + stoppedPayloadOffset_, stoppedPayloadBytes_ - stoppedPayloadOffset_);
    rest.text = _Shortened(text, kTextChars);
    rest.note = "not run: the device skipped the rest of the record";
    _Add(std::move(rest));
}

void CommandTimeline::notRun(const NotRun &n) {
    const RecordPiece &piece = n.piece;
    if (piece.kind == RecordPieceKind::Record) {
        // A whole record the device never read: its commands as the text
        // form has them.
        const size_t payloadAt = piece.offset + kRecordHeaderBytes;
        if (piece.payloadBytes == 0) {
            CommandEntry entry;
            entry.state = CommandState::NotRun;
            entry.offset = piece.offset;
            entry.text = "record { }";
            entry.note = "not run: " + n.reason;
            _Add(std::move(entry));
        }
        for (size_t at = 0; at < piece.payloadBytes;) {
            const DisassembledCommand d = disassembleCommand(piece.payload, piece.payloadBytes, at);
            CommandEntry entry;
            entry.state = CommandState::NotRun;
            entry.offset = payloadAt + at;
            entry.text = _Shortened(d.text, kTextChars);
            entry.note = "not run: " + n.reason;
            _Add(std::move(entry));
            at += d.length;
        }
        return;
    }
    CommandEntry entry;
    entry.state = CommandState::NotRun;
    entry.offset = piece.offset;
    std::string text = "raw ";
    appendHexBytes(text, recording_ + piece.offset, piece.bytes);
    entry.text = _Shortened(text, kTextChars);
    entry.note = "not run: " + n.reason;
    _Add(std::move(entry));
}

void CommandTimeline::reply(const uint8_t *payload, size_t length) {
    CommandEntry &c = _Current();
    if (c.replies.size() >= kReplies) {
        c.repliesLeftOut++;
        return;
    }
    ReplyEntry r;
    r.text = _Shortened(describeReply(payload, length), kTextChars);
    appendHexBytes(r.hex, payload, length < kHexBytes ? length : kHexBytes);
    if (length > kHexBytes) r.hex += " ... (" + std::to_string(length) + " bytes)";
    c.replies.push_back(std::move(r));
}

void CommandTimeline::logText(const char *text, size_t length) {
    CommandEntry &c = _Current();
    const size_t room = c.log.size() < kLogBytes ? kLogBytes - c.log.size() : 0;
    const size_t kept = length < room ? length : room;
    c.log.append(text, kept);
    c.logBytesLeftOut += length - kept;
}

void CommandTimeline::frame(const IndexedFrame &frame) {
    _Current().frames.push_back(frame.number);
    pending_.push_back(frame.number);
    sink_.frameShown(frame);
}

void CommandTimeline::finish() {
    _EndCurrent();
    if (!head_.empty() || !tail_.empty()) sink_.afterLastFrame(_List());
    head_.clear();
    tail_.clear();
}

}  // namespace nimbra
