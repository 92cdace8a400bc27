// SPDX-License-Identifier: GPL-3.0-or-later
#include "Session.h"

#include "Commands.h"
#include "Ctl.h"

#include "ConfigReplies.h"
#include "OpenHint.h"
#include "PortPresence.h"
#include "net/NetName.h"

#include <algorithm>
#include <thread>

namespace nx260ctl {

using std::chrono::milliseconds;

int Session::run()
{
    if (o_.words.empty())
        fail(Usage, "no command (see nx260ctl --help)");
    const std::string &word = o_.words.front();
    const Command command = findCommand(word);
    if (!command)
        fail(Usage, word + ": unknown command (see nx260ctl --help)");
    if (!o_.capture.empty())
        startCapture();
    const int code = command(*this);
    if (!recordError_.empty())
        fail(OutputError, recordError_);
    return code;
}

void Session::startCapture()
{
#ifdef NX_HAVE_CAPTURE
    std::string error;
    capture_ = capture::PcapWriter::create(o_.capture, &error);
    if (!capture_)
        fail(Usage, "--capture: " + error);
    link_.setObserver([this](const exchange::TrafficRecord &r) {
        capture_->write({r.time, r.sent ? capture::Direction::Sent : capture::Direction::Received,
                         r.hart ? capture::Payload::Hart : capture::Payload::Config, r.bytes});
    });
#else
    fail(Usage, "--capture: this build cannot capture (it was built without libpcap)");
#endif
}

void Session::need(size_t operands, const std::string &usage) const
{
    if (o_.words.size() != operands + 1)
        fail(Usage, "usage: nx260ctl " + usage);
}

void Session::openPort()
{
    if (open_)
        return;
    if (o_.port.empty())
        fail(Usage, "no port: give --port NAME or set NX260_PORT");
    if (o_.waitPortSeconds > 0)
        waitForPort();
    try {
        link_.open({o_.port, o_.baud, o_.parity});
    } catch (const SerialComm::ECommsError &e) {
        std::string reason = e.what();
        if (e.systemError() != 0)
            reason += " (" + e.reason() + ")";
        std::string hint = SerialComm::openFailureHint(e, o_.port);
        std::replace(hint.begin(), hint.end(), '\n', ' ');
        fail(PortError, "cannot open port " + o_.port + ": " + reason + (hint.empty() ? "" : ". " + hint));
    }
    open_ = true;
}

// Returns when the port is there or the time is up (the open then says why).
// A local device is watched for, a device server is tried with growing pauses.
void Session::waitForPort()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o_.waitPortSeconds);
    auto left = [&deadline] {
        return std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    };
    if (SerialComm::isNetworkPortName(o_.port)) {
        for (milliseconds pause{250}; SerialComm::connectAhead(o_.port) != 0 && left() > 0;
             pause = std::min(pause * 2, milliseconds(5000)))
            std::this_thread::sleep_for(std::min(pause, milliseconds(left())));
        return;
    }
    const SerialComm::PortIdentity id = SerialComm::portIdentity(o_.port);
    SerialComm::DeviceEvents events(id);
    while (SerialComm::presentPath(id).empty() && left() > 0) {
        if (!events.ok() || !events.wait(static_cast<int>(left())))
            return;
    }
}

std::vector<uint8_t> Session::config(const std::string &command, const exchange::Bytes &request,
                                     const std::string &what, Expect expect)
{
    openPort();
    const std::string name = command + ": " + printable(request);
    auto text = [](const std::vector<uint8_t> &b) { return std::string_view(reinterpret_cast<const char *>(b.data()), b.size()); };
    const exchange::SequentialExchange::WholeReply whole = [&](const std::vector<uint8_t> &b) {
        switch (expect) {
        case Expect::System: return exchange::wholeSystemReply(text(b));
        case Expect::Instruments: return exchange::wholeInstrumentReply(text(b));
        case Expect::Text: break;
        }
        return exchange::wholeTextReply(text(b));
    };
    const exchange::ExchangeReply r = link_.configRequest(request, o_.timeout, whole);
    switch (r.status) {
    case exchange::ReplyStatus::Ok: return r.bytes;
    case exchange::ReplyStatus::PortLost: fail(PortError, name + ": the port " + o_.port + " was lost");
    case exchange::ReplyStatus::NoReply: break;
    }
    const std::string within = " within " + std::to_string(o_.timeout.count()) + " ms";
    if (!r.bytes.empty())
        fail(Differs, name + ": incomplete " + what + within + "; received: " + received(r.bytes));
    fail(NoReply, name + ": no " + what + within);
}

std::optional<hart::Frame> Session::hartExchange(const std::string &what, const hart::Bytes &frame,
                                                 std::optional<milliseconds> firstByte)
{
    openPort();
    const exchange::ExchangeReply r = link_.hartRequest(frame, o_.timeout, firstByte);
    if (r.status == exchange::ReplyStatus::PortLost)
        fail(PortError, what + ": the port " + o_.port + " was lost");
    if (r.status == exchange::ReplyStatus::NoReply) {
        if (firstByte && r.bytes.empty())
            return std::nullopt;
        const hart::FoundReply found = hart::findReply(r.bytes.data(), r.bytes.size());
        if (found.fault == hart::ReplyFault::ChecksumError)
            fail(Differs, what + ": " + hart::replyFaultText(found.fault) + ": " + hexText(r.bytes));
        std::string msg = what + ": no HART reply within " + std::to_string(o_.timeout.count()) + " ms";
        if (found.fault == hart::ReplyFault::CutShort)
            msg += " (" + hart::replyFaultText(found.fault) + ": " + hexText(r.bytes) + ")";
        else if (!r.bytes.empty())
            msg += " (received: " + hexText(r.bytes) + ")";
        else
            msg += " (is the gateway in transparent mode?)";
        fail(NoReply, msg);
    }
    // The exchange ended on a valid reply; it is found again here.
    auto f = hart::findReply(r.bytes.data(), r.bytes.size()).frame;
    if (!f)
        fail(NoReply, what + ": no complete HART reply: " + hexText(r.bytes));
    if (!f->responseCode)
        fail(Differs, what + ": reply without status bytes: " + hexText(r.bytes));
    lastFrame_.assign(r.bytes.begin() + static_cast<std::ptrdiff_t>(f->start),
                      r.bytes.begin() + static_cast<std::ptrdiff_t>(f->end()));
    return f;
}

const std::string &Session::gatewayId()
{
    if (!gatewayId_) {
        const auto reply = config("identification", exchange::communicationQuery(), "reply");
        gatewayId_ = identification(reply) ? printable(reply) : "(not an identification: " + received(reply) + ")";
    }
    return *gatewayId_;
}

void Session::keepUndo(const std::string &command, const exchange::GatewaySettings &current)
{
    if (command != "restore")
        return;
    const std::string path = exchange::undoProfilePath(o_.record, o_.port);
    std::string error;
    if (exchange::writeNewFile(path, exchange::profileJson(current).dump(2) + "\n", &error))
        progress(command + ": the gateway's settings before are kept in " + path);
    else if (recordError_.empty())
        recordError_ = "undo profile: " + error;
}

void Session::recordChange(const std::string &key, const Json &before, const Json &asked, const Json &after,
                           const std::string &result)
{
    std::string error;
    const exchange::ChangeEntry e{"nx260ctl", o_.port, gatewayId(), key, before, asked, after, result};
    if (!exchange::appendRecord(o_.record, exchange::recordLine(e), &error) && recordError_.empty())
        recordError_ = "record: " + error;
}

} // namespace nx260ctl
