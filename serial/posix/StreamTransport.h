// SPDX-License-Identifier: GPL-3.0-or-later
// A byte stream other than a tty (a network connection) that the POSIX port
// drives with its own waits, chunking and threads; only opening, line
// settings and the bytes' framing on the wire differ.
#pragma once

#include "../PortBackend.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace SerialComm::detail {

class StreamTransport {
public:
    virtual ~StreamTransport() = default;

    // Connects and returns a non-blocking descriptor in `fd` (-1 on failure).
    virtual OpenResult open(const std::string &name, int &fd) = 0;
    // Returns false with errno set when the far end refuses the settings.
    virtual bool applyLineSettings(int fd, const LineSettings &settings) = 0;
    // The bytes that carry `data` on the wire.
    virtual const std::vector<uint8_t> &encode(const uint8_t *data, size_t length) = 0;
    // Sends without raising SIGPIPE; the contract of ::write otherwise.
    virtual ssize_t send(int fd, const uint8_t *data, size_t length) = 0;
    // Turns received wire bytes into line bytes in place; returns how many
    // line bytes are left at `data`. Called on the read thread only.
    virtual size_t received(int fd, uint8_t *data, size_t length) = 0;
    // The read thread owns the descriptor's incoming bytes while it runs.
    virtual void setReaderActive(bool active) = 0;
};

// A port over `transport` instead of a tty.
std::unique_ptr<PortBackend> createStreamPortBackend(std::unique_ptr<StreamTransport> transport);

} // namespace SerialComm::detail
