// SPDX-License-Identifier: GPL-3.0-or-later
// One gateway served by one command: the port, one exchange at a time, the
// commissioning record. The commands (Commands.cpp lists them) talk to the
// gateway only through here.
#pragma once

#include "Options.h"
#include "Output.h"

#include "ConfigRequests.h"
#include "HartReader.h"
#include "SequentialExchange.h"
#include "Settings.h"

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#ifdef NX_HAVE_CAPTURE
#include "TrafficCapture.h"
#endif

namespace nx260ctl {

class Session {
public:
    Session(const Options &o, std::ostream &out, std::ostream &err) : o_(o), out_(out), err_(err) {}

    // Runs the command the words name; its exit code.
    int run();

    const Options &options() const { return o_; }
    std::ostream &out() { return out_; }
    std::ostream &err() { return err_; }

    // --- exchanges (each opens the port first if need be)
    // What a configuration reply must hold to be whole.
    enum class Expect { Text, System, Instruments };
    std::vector<uint8_t> config(const std::string &command, const exchange::Bytes &request, const std::string &what,
                                Expect expect = Expect::Text);
    // The complete reply frame with a good checksum; nullopt only when
    // `firstByte` is given and no reply began in that time.
    std::optional<hart::Frame> hartExchange(const std::string &what, const hart::Bytes &frame,
                                            std::optional<std::chrono::milliseconds> firstByte = std::nullopt);
    // The last HART reply frame, delimiter .. checksum.
    const std::vector<uint8_t> &lastFrame() const { return lastFrame_; }

    // --- the record: the gateway's identification (asked once), an undo
    // profile before a restore, one line per change. A line that cannot be
    // written ends the command with OutputError once it is done.
    const std::string &gatewayId();
    void keepUndo(const std::string &command, const exchange::GatewaySettings &current);
    void recordChange(const std::string &key, const Json &before, const Json &asked, const Json &after,
                      const std::string &result);

    // --- output
    // Fails with the usage line unless the command has exactly `operands`.
    void need(size_t operands, const std::string &usage) const;
    void emit(const Json &doc) { out_ << doc.dump(2) << '\n'; }
    // A line on stderr unless the output is JSON.
    void progress(const std::string &line)
    {
        if (!o_.json)
            err_ << line << std::endl;
    }

private:
    void openPort();
    void waitForPort();
    void startCapture();

    const Options &o_;
    std::ostream &out_;
    std::ostream &err_;
    exchange::SequentialExchange link_;
    bool open_ = false;
    std::vector<uint8_t> lastFrame_;
    std::optional<std::string> gatewayId_;
    std::string recordError_; // the first line that could not be written
#ifdef NX_HAVE_CAPTURE
    std::unique_ptr<capture::PcapWriter> capture_;
#endif
};

} // namespace nx260ctl
