// The session API's own functions: open, close and the events. Each remote
// export's session twin is generated beside its flat export (exports.cpp,
// error_messages.cpp, server_queries.cpp).
#include <limits>
#include <memory>
#include <string>

#include "api/environment.h"
#include "api/export.h"
#include "client/event_routing.h"
#include "client/session.h"
#include "client/trace.h"
#include "platform/platform.h"
#include "protocol/result_codes.h"

namespace {
using namespace tqbse;

SessionSettings settingsFrom(const tqbse_options* options)
{
    SessionSettings settings;
    settings.replyDeadlineMs = environment::replyDeadline();
    settings.interrupt = environment::interrupt();
    settings.takesEvents = true;
    if (options != nullptr) {
        if (options->reply_timeout_ms != 0)
            settings.replyDeadlineMs = options->reply_timeout_ms > 0 ? options->reply_timeout_ms : 0;
        settings.connectTimeoutMs = options->connect_timeout_ms > 0 ? options->connect_timeout_ms : 0;
    }
    return settings;
}

// The closing procedure; the session is freed by the caller.
int32_t closeHandle(tqbse_session& handle)
{
    Session& session = handle.session;
    int32_t rc = kSuccess;
    {
        const std::unique_lock lock = session.connection.takeOver();
        rc = closeSession(session);
    }
    session.events->close();
    return rc;
}
} // namespace

TQ_EXPORT int32_t tqbse_open(const char* address, const tqbse_options* options, tqbse_session** session)
{
    if (session != nullptr)
        *session = nullptr;
    if (address == nullptr || session == nullptr)
        return kUnknownError;
    return guarded([&]() -> int32_t {
        platform::setDiagnosticsTarget(environment::diagnostics());
        trace::open();
        auto handle = std::make_unique<tqbse_session>();
        const std::unique_lock lock = handle->session.connection.takeOver();
        const int32_t rc = openSession(handle->session, address, settingsFrom(options));
        if (rc < 0) {
            if (handle->session.connection.isConnected())
                closeSession(handle->session);
            else
                handle->session.connection.close();
            return rc;
        }
        *session = handle.release();
        return rc;
    });
}

TQ_EXPORT int32_t tqbse_close(tqbse_session* session)
{
    if (session == nullptr)
        return kUnknownError;
    const std::unique_ptr<tqbse_session> handle(session);
    return guarded([&] { return closeHandle(*handle); });
}

TQ_EXPORT int32_t tqbse_set_event_handler(tqbse_session* session, const char* name, tqbse_event_handler fn,
                                          void* user)
{
    if (session == nullptr)
        return kUnknownError;
    return guarded([&]() -> int32_t {
        EventInbox::Handler handler;
        if (fn != nullptr)
            handler = [session, fn, user](std::string_view message) {
                // The inbox keeps each message in a std::string: a zero follows it.
                return fn(session, message.data(), int32_t(message.size()), user);
            };
        session->session.events->setHandler(name != nullptr ? std::string_view(name) : std::string_view(),
                                            std::move(handler));
        return kSuccess;
    });
}

TQ_EXPORT int32_t tqbse_wait_event(tqbse_session* session, int32_t timeout_ms, char* buffer, int32_t bufferSize,
                                   int32_t* length)
{
    if (session == nullptr || (buffer == nullptr && bufferSize > 0))
        return kUnknownError;
    return guarded([&]() -> int32_t {
        std::size_t taken = 0;
        const std::size_t room = bufferSize > 0 ? std::size_t(bufferSize) : 0;
        const EventInbox::Waited waited = session->session.events->wait(timeout_ms, buffer, room, &taken);
        if (waited != EventInbox::Waited::None && length != nullptr)
            *length = int32_t(std::min<std::size_t>(taken, std::numeric_limits<int32_t>::max()));
        switch (waited) {
        case EventInbox::Waited::Event:
            return kSuccess;
        case EventInbox::Waited::TooSmall:
            return kBufferTooSmall;
        case EventInbox::Waited::None:
            return kNoResponse;
        }
        return kNoResponse;
    });
}

TQ_EXPORT int32_t tqbse_events_dropped(tqbse_session* session, uint64_t* count)
{
    if (session == nullptr || count == nullptr)
        return kUnknownError;
    *count = session->session.events->dropped();
    return kSuccess;
}
