#pragma once

#include "receiver/SkerryToolRecords.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// A stand-in for the receiver tool server on 127.0.0.1, on a thread of its own: it accepts
// connections one after another, reads frames and answers each with a sound reply unless the
// script says otherwise. Every frame read is recorded. The destructor closes everything and
// joins the thread; every public member may be called from any thread.
class ScriptedServer
{
public:
    struct Frame
    {
        SkerryTool::Header header;
        std::vector<std::uint8_t> payload;
    };

    // How to answer one request. Unset fields keep the sound reply's value.
    struct Plan
    {
        // The requests it applies to; others get sound replies and leave it in the script.
        std::optional<SkerryTool::Command> forCommand;
        std::optional<SkerryTool::ParameterID> forParameter;

        std::optional<std::uint32_t> magic;
        std::optional<std::uint8_t> version;
        std::optional<std::uint8_t> sequence;
        std::optional<SkerryTool::Command> command;
        std::optional<std::uint16_t> parameter;
        std::uint8_t responseCode = 0;
        std::optional<std::vector<std::uint8_t>> payload;
        std::optional<std::uint16_t> length; // the length field, whatever the payload
        bool closeAfterHeader = false;       // send the header alone, then close
        bool thenSound = false;              // follow the planned reply with the sound one
        bool silent = false;                 // never answer; keep the connection open
    };

    // port 0 takes an ephemeral port.
    explicit ScriptedServer(std::uint16_t port);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const;

    // Plans taken in order by the requests they apply to.
    void script(std::vector<Plan> plans);
    // The plan for every matching request once the script holds none for it.
    void always(Plan plan);

    std::vector<Frame> frames() const;
    std::size_t connections() const;

    // The payload of a sound reply to a request.
    static std::vector<std::uint8_t> soundPayload(const Frame& request);

    // The sound answers the server gives.
    static constexpr std::uint8_t kVersion[4] = {1, 2, 3, 4};
    static constexpr std::uint32_t kUptime = 120000;
    static constexpr const char* kDeviceReport = "receiver 1: ok";
    static constexpr std::uint16_t kBrightness = 0x0321;
    static constexpr std::uint32_t kBypass = 0x83;
    static constexpr std::uint8_t kSystemTestStatus = 2;
    static constexpr const char* kSystemTestDescription = "all tiles lit";

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
