// Answering one request without sockets: checked against its row, run by
// the model's handler (emulator/handlers.cpp), encoded from the row's
// outputs, and a refusal's reason said after its code.
#include "emulator/request_handler.h"

#include <algorithm>
#include <mutex>
#include <span>
#include <utility>

#include "emulator/handlers.h"
#include "protocol/call_frame.h"
#include "protocol/call_table.h"
#include "protocol/codec.h"
#include "protocol/result_codes.h"

namespace tqbse::emu {

std::string_view messageName(std::string_view message)
{
    return message.substr(0, message.find('='));
}

std::string handleRequest(Model& model, std::string_view request)
{
    return answerRequest(model, request, CallContext{}).reply;
}

std::string handleRequest(Model& model, std::string_view request, const CallContext& context)
{
    return answerRequest(model, request, context).reply;
}

namespace {

// Why a name is not served (-8).
std::string unknownNameReason(std::string_view request, std::string_view name)
{
    if (request.find('=') == std::string_view::npos)
        return "no \"=\" after the name";
    if (!name.starts_with(kExportPrefix))
        return "the name lacks the " + std::string(kExportPrefix) + " prefix";
    if (const CallDesc* row = findCall(name); row && row->kind == CallKind::Local)
        return std::string(row->shortName()) + " is the library's own, never sent";
    return "unknown call";
}

// Why a request's tokens do not fit its row (-9, -20, -2, -6).
std::string requestReason(const CallDesc& row, std::span<const std::string_view> tokens)
{
    if (tokens.size() != std::size_t(row.inputCount))
        return std::to_string(tokens.size()) + " input tokens where the call takes " + std::to_string(row.inputCount);
    for (int k = 0; k < row.inputCount; ++k) {
        const WireInput& in = row.inputs[k];
        WireValue v;
        const int32_t rc = decodeValue(traits(in.role).tag, tokens[std::size_t(k)], &v);
        if (rc == kSuccess)
            continue;
        // The token without its parentheses: "n=0z000000".
        const std::string_view token = tokens[std::size_t(k)];
        const std::string_view inner = token.substr(1, std::min<std::size_t>(token.size() - 1, 13));
        const std::string which = "input " + std::to_string(k + 1) + ' ' + row.params[in.param].name;
        if (rc == kParameterType) {
            const std::string_view due = tagLetters(traits(in.role).tag);
            return which + " is tagged " + std::string(inner.substr(0, inner.find('=') + 1)) + " where " + std::string(due)
                + "= is due";
        }
        return which + " does not decode: " + std::string(inner.substr(0, inner.find(')')))
            + (token.size() > 14 ? "..." : "");
    }
    return "the request does not decode";
}

} // namespace

std::string reasonToken(std::string_view reason)
{
    std::string token = "(s=";
    for (const char c : reason.substr(0, kMaxReasonBytes)) {
        const auto u = static_cast<unsigned char>(c);
        token += c == '(' ? '[' : c == ')' ? ']' : u < 0x20 || u == 0x7f ? '?' : c;
    }
    return token + ')';
}

Answer answerRequest(Model& model, std::string_view request, const CallContext& context)
{
    const codec::SplitMessage message = codec::splitMessage(request);
    Answer answer;
    answer.name = message.name;
    const auto refused = [&](int32_t code, std::string reason) {
        answer.result = code;
        answer.reason = std::move(reason);
        answer.reply = codec::resultOnlyReply(message.name, code) + reasonToken(answer.reason);
        return answer;
    };
    const CallDesc* row = findRemoteCall(message.name);
    if (!row || request.find('=') == std::string_view::npos)
        return refused(kFunctionNotFound, unknownNameReason(request, message.name));
    const Handler* handler = findHandler(*row);
    if (!handler)
        return refused(kFunctionNotFound, "the emulator does not serve this call");
    answer.name = row->shortName();
    CallFrame frame(*row);
    if (const int32_t rc = frame.decodeRequest(message.params); rc != kSuccess)
        return refused(rc == kParameterType ? int32_t(kUnexpectedParameterType) : rc,
                       requestReason(*row, message.params));
    WireValue inputs[kMaxParams];
    for (int k = 0; k < row->inputCount; ++k)
        inputs[k] = frame.input(k);

    {
        std::lock_guard lock(model.mutex);
        model.refusal.clear();
        answer.result = (*handler)(model, inputs, frame, context);
        answer.reason = std::move(model.refusal);
    }
    answer.reply = frame.encodeReply(message.name, answer.result);
    // A success whose outputs did not fill the row is sent as -18.
    constexpr std::size_t kResultTokenBytes = 12; // "(n=" 8 hex digits ")"
    if (int32_t sent = 0; answer.result >= 0
        && codec::decodeInt(std::string_view(answer.reply).substr(message.name.size() + 1, kResultTokenBytes), &sent)
            == kSuccess
        && sent < 0) {
        answer.result = sent;
        answer.reason = "the emulator's handler did not give every output";
    }
    if (answer.result < 0) {
        if (answer.reason.empty())
            answer.reason = "refused by the model";
        answer.reply += reasonToken(answer.reason);
    }
    return answer;
}

std::vector<std::string_view> callsWithoutHandler()
{
    std::vector<std::string_view> missing;
    for (const CallDesc* row : allCalls())
        if (row->kind != CallKind::Local && !findHandler(*row))
            missing.push_back(row->shortName());
    return missing;
}

} // namespace tqbse::emu
