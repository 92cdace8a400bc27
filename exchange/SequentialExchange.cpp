// SPDX-License-Identifier: GPL-3.0-or-later
#include "SequentialExchange.h"

#include "HartReader.h"
#include "WaitQueue.h"

#include <limits>

namespace exchange {

namespace {

// The serial component's read interval: a chunk ends after this much quiet;
// the maximum hands over every byte as soon as it is read.
constexpr uint32_t kQuietLineMs = 100;
constexpr uint32_t kEveryByte = std::numeric_limits<uint32_t>::max();

} // namespace

struct SequentialExchange::State {
    std::shared_ptr<WaitQueue> queue = std::make_shared<WaitQueue>();
    std::unique_ptr<SerialComm::TComm> comm;
    TrafficObserver observer;
    bool hart = false;               // the exchange in progress is a HART one
    std::vector<uint8_t> received;   // this exchange's bytes so far
    size_t chunks = 0;
    bool lost = false;

    void record(bool sent, const uint8_t *data, size_t n)
    {
        if (observer)
            observer({std::chrono::system_clock::now(), sent, hart, std::vector<uint8_t>(data, data + n)});
    }
};

SequentialExchange::SequentialExchange() : d(std::make_unique<State>())
{
    d->comm = std::make_unique<SerialComm::TComm>(d->queue);
    d->comm->OnReceiveData = [this](SerialComm::TComm *, const uint8_t *data, uint16_t n) {
        d->record(false, data, n);
        d->received.insert(d->received.end(), data, data + n);
        ++d->chunks;
    };
    d->comm->OnRequestHangup = [this](SerialComm::TComm *) { d->lost = true; };
}

SequentialExchange::~SequentialExchange()
{
    close();
}

void SequentialExchange::open(const PortOptions &options)
{
    SerialComm::TComm &c = *d->comm;
    c.SetCommName(options.name);
    c.SetBaudRate(options.baud);
    c.SetParity(options.parity);
    c.SetParityCheck(options.parity != SerialComm::TParity::None);
    // HART frames and the raw data return time byte may hold XON/XOFF.
    c.SetOutx_XonXoffFlow(false);
    c.SetInx_XonXoffFlow(false);
    c.SetReadIntervalTimeout(kQuietLineMs);
    c.OpenPort();
    d->lost = false;
}

void SequentialExchange::close()
{
    d->comm->ClosePort();
    d->queue->runPending();
}

void SequentialExchange::setObserver(TrafficObserver observer)
{
    d->observer = std::move(observer);
}

ExchangeReply SequentialExchange::configRequest(const std::vector<uint8_t> &request, std::chrono::milliseconds timeout,
                                                const WholeReply &whole)
{
    return exchange(request, Framing::QuietLine, timeout, whole, std::nullopt);
}

ExchangeReply SequentialExchange::hartRequest(const std::vector<uint8_t> &frame, std::chrono::milliseconds timeout,
                                              std::optional<std::chrono::milliseconds> firstByte)
{
    return exchange(frame, Framing::HartFrame, timeout, {}, firstByte);
}

ExchangeReply SequentialExchange::exchange(const std::vector<uint8_t> &request, Framing framing,
                                           std::chrono::milliseconds timeout, const WholeReply &whole,
                                           std::optional<std::chrono::milliseconds> firstByte)
{
    ExchangeReply reply;
    // Late bytes of an earlier exchange belong to nobody.
    d->queue->runPending();
    d->received.clear();
    d->chunks = 0;
    d->hart = framing == Framing::HartFrame;

    SerialComm::TComm &c = *d->comm;
    if (d->lost || !c.IsOpen() || request.empty() || request.size() > std::numeric_limits<uint16_t>::max()) {
        reply.status = ReplyStatus::PortLost;
        return reply;
    }
    c.SetReadIntervalTimeout(framing == Framing::HartFrame ? kEveryByte : kQuietLineMs);

    // A configuration reply that starts within the time-out is complete only
    // after the quiet period that follows it.
    const auto deadline = std::chrono::steady_clock::now() + timeout
        + std::chrono::milliseconds(framing == Framing::QuietLine ? kQuietLineMs : 0);
    d->record(true, request.data(), request.size());
    if (!c.SendData(request.data(), static_cast<uint16_t>(request.size()))) {
        reply.status = ReplyStatus::PortLost;
        return reply;
    }

    auto complete = [&] {
        if (d->lost)
            return true;
        if (framing == Framing::QuietLine)
            return d->chunks > 0 && (!whole || whole(d->received));
        // Only a valid reply ends the wait: noise or a broken candidate in
        // front may still be followed by the real one.
        const hart::FoundReply found = hart::findReply(d->received.data(), d->received.size());
        if (!found.frame)
            return false;
        d->received.resize(found.frame->end());
        return true;
    };
    bool done = false;
    if (firstByte && *firstByte < timeout) {
        const auto begun = [&] { return d->lost || !d->received.empty(); };
        if (d->queue->runUntil(begun, std::chrono::steady_clock::now() + *firstByte))
            done = d->queue->runUntil(complete, deadline);
    } else {
        done = d->queue->runUntil(complete, deadline);
    }
    reply.bytes = d->received;
    if (d->lost)
        reply.status = ReplyStatus::PortLost;
    else if (!done)
        reply.status = ReplyStatus::NoReply;
    return reply;
}

} // namespace exchange
