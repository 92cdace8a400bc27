// SPDX-License-Identifier: GPL-3.0-or-later
#include "TrafficCapture.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "HartReader.h"

namespace capture {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kSnapLength = 65535;
constexpr size_t kIpHeader = 20;
constexpr size_t kUdpHeader = 8;
constexpr size_t kHartIpHeader = 8;
// Largest UDP payload one IPv4 packet carries; longer records are split.
constexpr size_t kMaxPayload = 65535 - kIpHeader - kUdpHeader;
constexpr uint8_t kPc[4] = {127, 0, 0, 1};
constexpr uint8_t kGateway[4] = {127, 0, 0, 2};

void put16(Bytes &out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

uint16_t ipChecksum(const uint8_t *header, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += (uint32_t{header[i]} << 8) | header[i + 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

// Raw IPv4 (no link header): IP, UDP (checksum 0, allowed over IPv4), payload.
Bytes udpPacket(Direction direction, uint16_t port, const uint8_t *payload, size_t length, uint16_t ipId)
{
    const bool sent = direction == Direction::Sent;
    Bytes p;
    p.reserve(kIpHeader + kUdpHeader + length);
    p.push_back(0x45);
    p.push_back(0);
    put16(p, static_cast<uint16_t>(kIpHeader + kUdpHeader + length));
    put16(p, ipId);
    put16(p, 0x4000); // don't fragment
    p.push_back(64);
    p.push_back(17); // UDP
    put16(p, 0);
    const uint8_t *src = sent ? kPc : kGateway;
    const uint8_t *dst = sent ? kGateway : kPc;
    p.insert(p.end(), src, src + 4);
    p.insert(p.end(), dst, dst + 4);
    const uint16_t sum = ipChecksum(p.data(), kIpHeader);
    p[10] = static_cast<uint8_t>(sum >> 8);
    p[11] = static_cast<uint8_t>(sum & 0xFF);
    put16(p, port);
    put16(p, port);
    put16(p, static_cast<uint16_t>(kUdpHeader + length));
    put16(p, 0);
    p.insert(p.end(), payload, payload + length);
    return p;
}

} // namespace

struct PcapWriter::State {
    pcap_t *dead = nullptr;
    pcap_dumper_t *dumper = nullptr;
    uint16_t ipId = 0;
    uint16_t sequence = 0; // HART-IP: a response carries its request's number
    bool failed = false;

    ~State()
    {
        if (dumper != nullptr)
            pcap_dump_close(dumper);
        if (dead != nullptr)
            pcap_close(dead);
    }

    bool dump(std::chrono::system_clock::time_point time, const Bytes &packet)
    {
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
        pcap_pkthdr header{};
        auto seconds = micros / 1000000;
        auto rest = micros % 1000000;
        if (rest < 0) {
            rest += 1000000;
            --seconds;
        }
        header.ts.tv_sec = static_cast<decltype(header.ts.tv_sec)>(seconds);
        header.ts.tv_usec = static_cast<decltype(header.ts.tv_usec)>(rest);
        header.caplen = header.len = static_cast<bpf_u_int32>(packet.size());
        pcap_dump(reinterpret_cast<u_char *>(dumper), &header, packet.data());
        if (std::ferror(pcap_dump_file(dumper)) != 0)
            failed = true;
        return !failed;
    }

    bool plain(const Record &r, const uint8_t *bytes, size_t length)
    {
        bool ok = true;
        do {
            const size_t piece = std::min(length, kMaxPayload);
            ok = dump(r.time, udpPacket(r.direction, kPlainPort, bytes, piece, ipId++)) && ok;
            bytes += piece;
            length -= piece;
        } while (length > 0);
        return ok;
    }

    bool hartIp(const Record &r, const uint8_t *frame, size_t length)
    {
        const bool request = r.direction == Direction::Sent;
        if (request)
            ++sequence;
        Bytes message;
        message.reserve(kHartIpHeader + length);
        message.push_back(1);                 // version
        message.push_back(request ? 0 : 1);   // message type: request / response
        message.push_back(3);                 // message id: token-passing PDU
        message.push_back(0);                 // status
        put16(message, sequence);
        put16(message, static_cast<uint16_t>(kHartIpHeader + length));
        message.insert(message.end(), frame, frame + length);
        return dump(r.time, udpPacket(r.direction, kHartIpPort, message.data(), message.size(), ipId++));
    }
};

PcapWriter::PcapWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}

PcapWriter::~PcapWriter() = default;

std::unique_ptr<PcapWriter> PcapWriter::create(const std::string &path, std::string *error)
{
    auto state = std::make_unique<State>();
    state->dead = pcap_open_dead_with_tstamp_precision(DLT_RAW, kSnapLength, PCAP_TSTAMP_PRECISION_MICRO);
    if (state->dead == nullptr) {
        if (error != nullptr)
            *error = path + ": cannot set up the capture writer";
        return nullptr;
    }
    errno = 0;
    state->dumper = pcap_dump_open(state->dead, path.c_str());
    if (state->dumper == nullptr) {
        if (error != nullptr) {
            // libpcap's message names the file already; keep the reason plain otherwise.
            const std::string reason = pcap_geterr(state->dead);
            *error = reason.find(path) != std::string::npos ? reason : path + ": " + reason;
        }
        return nullptr;
    }
    return std::unique_ptr<PcapWriter>(new PcapWriter(std::move(state)));
}

bool PcapWriter::write(const Record &record)
{
    State &s = *state_;
    const Bytes &b = record.bytes;
    if (b.empty())
        return !s.failed;
    if (record.payload == Payload::Hart) {
        const auto layout = hart::readFrame(b.data(), b.size());
        if (layout && layout->complete) {
            bool ok = true;
            // The transparent header and preambles are the gateway's business;
            // anything else around the frame is kept as plain payload.
            if (layout->leadLength > 0 && !layout->transparentHeader)
                ok = s.plain(record, b.data(), layout->leadLength) && ok;
            ok = s.hartIp(record, b.data() + layout->start, layout->length) && ok;
            const size_t end = layout->end();
            if (end < b.size())
                ok = s.plain(record, b.data() + end, b.size() - end) && ok;
            return ok;
        }
    }
    return s.plain(record, b.data(), b.size());
}

bool PcapWriter::flush()
{
    if (pcap_dump_flush(state_->dumper) != 0)
        state_->failed = true;
    return !state_->failed;
}

bool writePcap(const std::string &path, const std::vector<Record> &records, std::string *error)
{
    auto writer = PcapWriter::create(path, error);
    if (!writer)
        return false;
    errno = 0;
    bool ok = true;
    for (const Record &r : records) {
        if (!(ok = writer->write(r)))
            break;
    }
    if (ok)
        ok = writer->flush();
    if (!ok && error != nullptr)
        *error = path + ": " + std::strerror(errno != 0 ? errno : EIO);
    return ok;
}

} // namespace capture
