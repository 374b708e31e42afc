#include "core/call_remote.h"

#include <cstring>

#include "core/client_socket.h"
#include "core/result_codes.h"

namespace tqbse {
namespace {

int32_t writeText(QByteArrayView token, char* buffer, int32_t bufferSize)
{
    codec::DecodedString text;
    if (const int32_t rc = codec::decodeString(token, &text); rc != codec::kOk)
        return rc;
    // (s=NULL) carries no text: it is delivered as the empty text.
    const int64_t length = text.isNull ? 0 : text.text.size();
    if (int64_t(bufferSize) < length + 1)
        return kBufferTooSmall;
    if (length > 0)
        std::memcpy(buffer, text.text.data(), std::size_t(length));
    buffer[length] = '\0';
    return kSuccess;
}

int32_t writeArray(QByteArrayView token, double* values, int32_t capacity)
{
    codec::DoubleArrayView array;
    if (const int32_t rc = codec::parseDoubleArray(token, &array); rc != codec::kOk)
        return rc;
    if (array.count > capacity)
        return kBufferTooSmall;
    array.copyTo(values);
    return kSuccess;
}

} // namespace

QByteArray sendAndReceive(const QByteArray& request)
{
    if (request.isEmpty())
        return {};
    QByteArray reply;
    if (ClientSocket::instance().exchange(request, reply) != 0)
        return {};
    return reply;
}

QByteArray buildRequest(const CallDesc& call, const ArgValue* args)
{
    QByteArray request;
    request.reserve(qsizetype(std::strlen(call.name)) + 1 + call.inputCount * 20);
    request.append(call.name);
    request.append('=');
    for (int k = 0; k < call.inputCount; ++k) {
        const WireInput& in = call.inputs[k];
        const ArgValue& v = args[in.param];
        switch (in.role) {
        case ParamRole::InInt:
        case ParamRole::InBool:
            codec::appendInt(request, v.i);
            break;
        case ParamRole::InFloat:
            codec::appendFloat(request, v.f);
            break;
        case ParamRole::InDouble:
            codec::appendDouble(request, v.d);
            break;
        case ParamRole::InText:
            codec::appendString(request, v.text, args[in.limitParam].i);
            break;
        default:
            break;
        }
    }
    return request;
}

int32_t checkReply(const CallDesc& call, const QByteArray& reply, codec::SplitMessage* message,
                   int32_t* result)
{
    if (reply.isEmpty())
        return kNoResponse;
    codec::splitMessage(reply, message);
    if (message->name != QByteArrayView(call.name))
        return kReplyOutOfOrder;
    if (message->params.empty())
        return kReplyParameterCount;
    if (codec::decodeInt(message->params[0], result) != codec::kOk)
        return kNoResultCode;
    return kSuccess;
}

int32_t writeOutputs(const CallDesc& call, const ArgValue* args, const codec::SplitMessage& message)
{
    std::size_t next = 1;
    for (int k = 0; k < call.outputCount; ++k) {
        const WireOutput& out = call.outputs[k];
        const ArgValue& target = args[out.param];
        const std::size_t needed = out.role == ParamRole::OutVersion ? 4 : 1;
        int32_t rc = kSuccess;
        for (std::size_t j = 0; j < needed && rc == kSuccess; ++j, ++next) {
            if (message.params.size() <= next)
                return kReplyParameterCount;
            const QByteArrayView token = message.params[next];
            switch (out.role) {
            case ParamRole::OutInt:
                rc = codec::decodeInt(token, target.intOut);
                break;
            case ParamRole::OutBool:
                rc = codec::decodeBool(token, target.intOut);
                break;
            case ParamRole::OutFloat:
                rc = codec::decodeFloat(token, target.floatOut);
                break;
            case ParamRole::OutDouble:
                rc = codec::decodeDouble(token, target.doubleOut);
                break;
            case ParamRole::OutText:
                rc = writeText(token, target.buffer, args[out.boundParam].i);
                break;
            case ParamRole::OutArray:
                rc = writeArray(token, target.doubleOut, args[out.boundParam].i);
                break;
            case ParamRole::OutVersion:
                rc = codec::decodeInt(token, target.intOut + j);
                break;
            default:
                break;
            }
        }
        if (rc != kSuccess)
            return rc;
    }
    return kSuccess;
}

int32_t callRemote(const CallDesc& call, const ArgValue* args, Exchange exchange)
{
    const QByteArray reply = exchange(buildRequest(call, args));
    codec::SplitMessage message;
    int32_t result = 0;
    if (const int32_t rc = checkReply(call, reply, &message, &result); rc != kSuccess)
        return rc;
    if (result < 0)
        return result;
    if (const int32_t rc = writeOutputs(call, args, message); rc != kSuccess)
        return rc;
    return result;
}

int32_t callRemote(const CallDesc& call, std::initializer_list<ArgValue> args)
{
    auto overSocket = [](const QByteArray& request) { return sendAndReceive(request); };
    return callRemote(call, args.begin(), overSocket);
}

} // namespace tqbse
