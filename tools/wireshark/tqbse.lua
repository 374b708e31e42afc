-- tqbse.lua: Wireshark dissector of the plug-in server protocol (TCP 6002 and 6009).
-- Load it with: tshark -X lua_script:tqbse.lua ...  (docs/TRACE.md)
--
-- The part between BEGIN ROWS and END ROWS is generated from the call rows
-- (protocol/rows/) and the result-code list by tools/wireshark/generate_dissector:
-- do not edit it; `cmake --build build --target dissector` writes it anew.
-- BEGIN ROWS
-- Each request's inputs and each reply's outputs after the result code, by
-- parameter name in wire order.
local CALLS = {
  ["tqBsePluginControlDll_RemoteConnection_Set"] = {inputs = {"state"}, outputs = {}},
  ["tqBsePluginControlDll_GetErrorMsgLength"] = {inputs = {}, outputs = {"length"}},
  ["tqBsePluginControlDll_GetErrorMsg"] = {inputs = {}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_GetServerVersion"] = {inputs = {}, outputs = {"version", "version", "version", "version"}},
  ["tqBsePluginControlDll_FullProtocolReset"] = {inputs = {}, outputs = {}},
  ["tqBsePluginControlDll_ConnectionStatus_Get"] = {inputs = {}, outputs = {"connected"}},
  ["tqBsePluginControlDll_RX_CentreFrequency_Set"] = {inputs = {"index", "frequency"}, outputs = {}},
  ["tqBsePluginControlDll_RX_CentreFrequency_Get"] = {inputs = {"index"}, outputs = {"frequency"}},
  ["tqBsePluginControlDll_RX_InputLevel_Set"] = {inputs = {"index", "level"}, outputs = {}},
  ["tqBsePluginControlDll_RX_InputLevel_Get"] = {inputs = {"index"}, outputs = {"level"}},
  ["tqBsePluginControlDll_TX_CentreFrequency_Set"] = {inputs = {"index", "frequency"}, outputs = {}},
  ["tqBsePluginControlDll_TX_CentreFrequency_Get"] = {inputs = {"index"}, outputs = {"frequency"}},
  ["tqBsePluginControlDll_TX_ReferenceLevel_Set"] = {inputs = {"index", "level"}, outputs = {}},
  ["tqBsePluginControlDll_TX_ReferenceLevel_Get"] = {inputs = {"index"}, outputs = {"level"}},
  ["tqBsePluginControlDll_LoggingState_Set"] = {inputs = {"state"}, outputs = {}},
  ["tqBsePluginControlDll_LoggingState_Get"] = {inputs = {}, outputs = {"state"}},
  ["tqBsePluginControlDll_RFMeasurement_State_Set"] = {inputs = {"state"}, outputs = {}},
  ["tqBsePluginControlDll_RFMeasurement_State_Get"] = {inputs = {}, outputs = {"state"}},
  ["tqBsePluginControlDll_ADCOverloaded_Get"] = {inputs = {"index"}, outputs = {"overloaded"}},
  ["tqBsePluginControlDll_TestCase_Count_Get"] = {inputs = {}, outputs = {"count"}},
  ["tqBsePluginControlDll_TestCase_NameLength_Get"] = {inputs = {"index"}, outputs = {"length"}},
  ["tqBsePluginControlDll_TestCase_Name_Get"] = {inputs = {"index", "bufferSize"}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_TestCase_GroupNameLength_Get"] = {inputs = {"index"}, outputs = {"length"}},
  ["tqBsePluginControlDll_TestCase_GroupName_Get"] = {inputs = {"index", "bufferSize"}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_TestCase_Run"] = {inputs = {"index"}, outputs = {}},
  ["tqBsePluginControlDll_Protocol_MeasurementEnabled_Set"] = {inputs = {"index", "enabled"}, outputs = {}},
  ["tqBsePluginControlDll_Protocol_MeasurementEnabled_Get"] = {inputs = {"index"}, outputs = {"enabled"}},
  ["tqBsePluginControlDll_Protocol_Results_Available_Get"] = {inputs = {}, outputs = {"available"}},
  ["tqBsePluginControlDll_Protocol_Results_GetHandle"] = {inputs = {}, outputs = {"handle"}},
  ["tqBsePluginControlDll_Results_DeleteHandle"] = {inputs = {"handle"}, outputs = {}},
  ["tqBsePluginControlDll_Protocol_Results_GetTraceLength"] = {inputs = {"handle", "trace"}, outputs = {"length"}},
  ["tqBsePluginControlDll_Protocol_Results_GetTrace"] = {inputs = {"handle", "trace", "capacity"}, outputs = {"xValues", "yValues"}},
  ["tqBsePluginControlDll_Protocol_Results_GetResultItem"] = {inputs = {"handle", "item"}, outputs = {"firstValue", "secondValue"}},
  ["tqBsePluginControlDll_LTE_MeasurementEnabled_Set"] = {inputs = {"index", "measurement", "enabled"}, outputs = {}},
  ["tqBsePluginControlDll_LTE_MeasurementEnabled_Get"] = {inputs = {"index", "measurement"}, outputs = {"enabled"}},
  ["tqBsePluginControlDll_LTE_Results_Available_Get"] = {inputs = {"index"}, outputs = {"available"}},
  ["tqBsePluginControlDll_LTE_Results_GetHandle"] = {inputs = {"index"}, outputs = {"handle"}},
  ["tqBsePluginControlDll_LTE_Results_Cell_Get"] = {inputs = {"handle"}, outputs = {"cell"}},
  ["tqBsePluginControlDll_LTE_Results_GetTraceLength"] = {inputs = {"handle", "trace"}, outputs = {"length"}},
  ["tqBsePluginControlDll_LTE_Results_GetTrace"] = {inputs = {"handle", "trace", "capacity"}, outputs = {"xValues", "yValues"}},
  ["tqBsePluginControlDll_LTE_Results_Evm_Rms_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_LTE_Results_Evm_Carrier_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_LTE_Results_Evm_NonAllocatedCarriers_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_LTE_Results_FreqError_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_LTE_Results_CarrierLeak_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_LTE_Results_SymbolClkError_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_LTE_Results_IQGainImbalance_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_LTE_Results_IQSkew_Get"] = {inputs = {"handle"}, outputs = {"value"}},
  ["tqBsePluginControlDll_Scenario_Count_Get"] = {inputs = {}, outputs = {"count"}},
  ["tqBsePluginControlDll_Scenario_NameLength_Get"] = {inputs = {"index"}, outputs = {"length"}},
  ["tqBsePluginControlDll_Scenario_Name_Get"] = {inputs = {"index", "bufferSize"}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_Scenario_Upload"] = {inputs = {"name", "content"}, outputs = {}},
  ["tqBsePluginControlDll_Scenario_DownloadSize_Get"] = {inputs = {"name"}, outputs = {"size"}},
  ["tqBsePluginControlDll_Scenario_Download"] = {inputs = {"name", "bufferSize"}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_Scenario_Execute"] = {inputs = {"name"}, outputs = {}},
  ["tqBsePluginControlDll_Scenario_IsRunning_Get"] = {inputs = {}, outputs = {"running"}},
  ["tqBsePluginControlDll_DebugFilters_GetCount"] = {inputs = {}, outputs = {"count"}},
  ["tqBsePluginControlDll_DebugFilters_NameLength_Get"] = {inputs = {"index"}, outputs = {"length"}},
  ["tqBsePluginControlDll_DebugFilters_Name_Get"] = {inputs = {"index", "bufferSize"}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_DebugFilters_State_Set"] = {inputs = {"name", "state"}, outputs = {}},
  ["tqBsePluginControlDll_DebugFilters_State_Get"] = {inputs = {"name"}, outputs = {"state"}},
  ["tqBsePluginControlDll_DebugFilters_AcceptChanges"] = {inputs = {}, outputs = {}},
  ["tqBsePluginControlDll_DebugFilters_RejectChanges"] = {inputs = {}, outputs = {}},
  ["tqBsePluginControlDll_ProtocolMessageXml_Count_Get"] = {inputs = {}, outputs = {"count"}},
  ["tqBsePluginControlDll_ProtocolMessageXml_NameLength_Get"] = {inputs = {"index"}, outputs = {"length"}},
  ["tqBsePluginControlDll_ProtocolMessageXml_Name_Get"] = {inputs = {"index", "bufferSize"}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_ProtocolMessageXml_Upload"] = {inputs = {"name", "content"}, outputs = {}},
  ["tqBsePluginControlDll_ProtocolMessageXml_DownloadSize_Get"] = {inputs = {"name"}, outputs = {"size"}},
  ["tqBsePluginControlDll_ProtocolMessageXml_Download"] = {inputs = {"name", "bufferSize"}, outputs = {"buffer"}},
  ["tqBsePluginControlDll_SystemParamFile_Count_Get"] = {inputs = {}, outputs = {"count"}},
  ["tqBsePluginControlDll_SystemParamFile_NameLength_Get"] = {inputs = {"index"}, outputs = {"length"}},
  ["tqBsePluginControlDll_SystemParamFile_Name_Get"] = {inputs = {"index", "bufferSize"}, outputs = {"buffer"}},
}

-- Result codes by value.
local RESULTS = {
  [2] = "TQBSE_WARNING_SERVER_NEWER",
  [1] = "TQBSE_WARNING_CLIENT_NEWER",
  [0] = "TQBSE_SUCCESS",
  [-1] = "TQBSE_UNKNOWN_ERROR",
  [-2] = "TQBSE_PARAMETER_FORMAT",
  [-3] = "TQBSE_ARRAY_COUNT",
  [-4] = "TQBSE_ARRAY_LENGTH",
  [-5] = "TQBSE_PARAMETER_TYPE",
  [-6] = "TQBSE_PARAMETER_CONTENTS",
  [-7] = "TQBSE_TRANSMISSION_ERROR",
  [-8] = "TQBSE_FUNCTION_NOT_FOUND",
  [-9] = "TQBSE_PARAMETER_COUNT",
  [-10] = "TQBSE_REPLY_OUT_OF_ORDER",
  [-11] = "TQBSE_REPLY_PARAMETER_COUNT",
  [-12] = "TQBSE_NO_RESULT_CODE",
  [-13] = "TQBSE_BUFFER_TOO_SMALL",
  [-14] = "TQBSE_NO_RESPONSE",
  [-16] = "TQBSE_BAD_ADDRESS_OCTET",
  [-17] = "TQBSE_NOT_VALID_REMOTELY",
  [-18] = "TQBSE_INTERNAL_OBJECT_ERROR",
  [-19] = "TQBSE_SERVER_DLL_NOT_LOADED",
  [-20] = "TQBSE_UNEXPECTED_PARAMETER_TYPE",
}

-- The formatter of each token tag, by its letters (functions below).
local TAG_FORMATTERS = {
  n = "int_text",
  f = "float_text",
  d = "double_text",
  s = "string_text",
  da = "array_text",
}
-- END ROWS

-- The dissector (Lua 5.2, as in Wireshark 4). CALLS, RESULTS and
-- TAG_FORMATTERS above come from the call rows and the value model. Lua
-- cannot call the tool's value formatting (C++), so the formatters below
-- are the dissector's own.
--
-- Port 6002: requests go to the server, replies come back. Port 6009: the
-- server sends a callback message to the host's listener, which answers.
-- A message is "name=" followed by tokens "(tag=value)"; numbers are the
-- hex text of their little-endian bytes. Until a message is complete (see
-- complete() below) the dissector asks TCP for the next segment.

local SERVER_PORT = 6002
local LISTENER_PORT = 6009

local proto = Proto("tqbse", "Base-station emulator plug-in control")

local f_kind = ProtoField.string("tqbse.kind", "Message")
local f_name = ProtoField.string("tqbse.name", "Name")
local f_result = ProtoField.int32("tqbse.result", "Result", base.DEC, RESULTS)
local f_param = ProtoField.string("tqbse.param", "Parameter")
local f_value = ProtoField.string("tqbse.value", "Value")
local f_token = ProtoField.string("tqbse.token", "Token")
local f_request_in = ProtoField.framenum("tqbse.request_in", "Request in")
local f_response_in = ProtoField.framenum("tqbse.response_in", "Response in")
local f_time = ProtoField.double("tqbse.time", "Round-trip time (s)")
proto.fields = {f_kind, f_name, f_result, f_param, f_value, f_token, f_request_in, f_response_in, f_time}

local f_tcp_stream = Field.new("tcp.stream")

-- Links found on the first pass: request frame <-> reply frame, and when
-- each was captured.
local pending = {}   -- tcp stream -> {frame, time} of the request awaiting its reply
local reply_of = {}  -- request frame -> reply frame
local request_of = {} -- reply frame -> request frame
local captured = {}  -- frame -> capture time in seconds

function proto.init()
  pending, reply_of, request_of, captured = {}, {}, {}, {}
end

-- The tokens of a message after its "=": each balanced "(...)" at depth 0.
-- Returns the list of {start, text} (start is 0-based) and the depth left.
local function tokens(text, from)
  local list, depth, start = {}, 0, nil
  for i = from, #text do
    local c = text:byte(i)
    if c == 40 then -- "("
      if depth == 0 then start = i end
      depth = depth + 1
    elseif c == 41 and depth > 0 then -- ")"
      depth = depth - 1
      if depth == 0 then list[#list + 1] = {start - 1, text:sub(start, i)} end
    end
  end
  return list, depth
end


-- Little-endian hex to its bytes; nil when the text is not 2*n hex digits.
local function le_bytes(hex, n)
  if #hex ~= 2 * n or hex:find("[^0-9a-fA-F]") then return nil end
  local b = {}
  for i = 1, n do b[i] = tonumber(hex:sub(2 * i - 1, 2 * i), 16) end
  return b
end

local function unsigned(b, from, to) -- bytes b[from..to], most significant last
  local v = 0
  for i = to, from, -1 do v = v * 256 + b[i] end
  return v
end

local function decode_int(hex)
  local b = le_bytes(hex, 4)
  if not b then return nil end
  local v = unsigned(b, 1, 4)
  if v >= 2 ^ 31 then v = v - 2 ^ 32 end
  return v
end

local function ieee(sign, exponent, mantissa, mantissa_bits, bias)
  local v
  if exponent == 2 * bias + 1 then
    v = mantissa == 0 and math.huge or 0 / 0
  elseif exponent == 0 then
    v = mantissa * 2 ^ (1 - bias - mantissa_bits)
  else
    v = (1 + mantissa / 2 ^ mantissa_bits) * 2 ^ (exponent - bias)
  end
  return sign and -v or v
end

local function decode_float(hex)
  local b = le_bytes(hex, 4)
  if not b then return nil end
  local v = unsigned(b, 1, 4)
  return ieee(v >= 2 ^ 31, math.floor(v / 2 ^ 23) % 256, v % 2 ^ 23, 23, 127)
end

local function decode_double(hex)
  local b = le_bytes(hex, 8)
  if not b then return nil end
  local high, low = unsigned(b, 5, 8), unsigned(b, 1, 4)
  return ieee(high >= 2 ^ 31, math.floor(high / 2 ^ 20) % 2048, (high % 2 ^ 20) * 2 ^ 32 + low, 52, 1023)
end

-- The shortest text that reads back as the same number.
local function number_text(v)
  if v ~= v then return "nan" end
  if v == math.floor(v) and math.abs(v) < 2 ^ 53 then return string.format("%d", v) end
  for digits = 6, 17 do
    local text = string.format("%." .. digits .. "g", v)
    if tonumber(text) == v then return text end
  end
  return string.format("%.17g", v)
end

-- The value of a token's text after its "=", by the tag's formatter in
-- TAG_FORMATTERS; each returns nil when the text does not decode.
local FORMATTERS = {
  int_text = function(value)
    local v = decode_int(value)
    return v and number_text(v)
  end,
  float_text = function(value)
    local v = decode_float(value)
    return v and number_text(v)
  end,
  double_text = function(value)
    local v = decode_double(value)
    return v and number_text(v)
  end,
  string_text = function(value)
    return value == "NULL" and "NULL" or '"' .. value .. '"'
  end,
  array_text = function(value)
    local count, elements = value:match("^(%-?%d+)%[(.*)%]$")
    if not count then return nil end
    local shown, n = {}, 0
    for hex in elements:gmatch("[^,]+") do
      n = n + 1
      if n <= 4 then shown[n] = number_text(decode_double(hex) or 0 / 0) end
    end
    return count .. " values [" .. table.concat(shown, ", ") .. (n > 4 and ", ...]" or "]")
  end,
}

-- A token's value as text, by its tag; nil when it does not decode.
local function token_value(token)
  local tag, value = token:match("^%((%a+)=(.*)%)$")
  local formatter = tag and FORMATTERS[TAG_FORMATTERS[tag] or ""]
  return formatter and formatter(value)
end

-- Where a message ends. A request: when it holds as many tokens as its row
-- has inputs. A reply: when it ends in ")" with its parentheses balanced
-- and holds every token its row's successful reply carries (the result and
-- the outputs), or a negative result, which carries nothing else but the
-- emulator's reason (shown as "reason"); the
-- library's rule, but for its 100 ms quiet wait, which a capture cannot
-- replay: a reply that really is short of outputs stays unfinished until
-- more bytes come in its direction. Callback messages and unknown names end
-- at the balanced ")".
local function complete(text, is_request)
  local eq = text:find("=", 1, true)
  if not eq then return false end
  local list, depth = tokens(text, eq + 1)
  if depth ~= 0 then return false end
  local call = CALLS[text:sub(1, eq - 1)]
  if is_request then
    if call then return #list >= #call.inputs end
    return text:sub(-1) == ")" or text:sub(-1) == "="
  end
  if text:sub(-1) ~= ")" then return false end
  if not call or #list >= 1 + #call.outputs then return true end
  local result = list[1] and decode_int(list[1][2]:match("^%(n=(.*)%)$") or "")
  return result ~= nil and result < 0
end

local function short(name)
  return (name:gsub("^tqBsePluginControlDll_", ""))
end

function proto.dissector(tvb, pinfo, tree)
  local length = tvb:len()
  if length == 0 then return 0 end
  local to_server = pinfo.dst_port == SERVER_PORT
  local callback = pinfo.dst_port == LISTENER_PORT or pinfo.src_port == LISTENER_PORT
  local is_request = to_server or pinfo.dst_port == LISTENER_PORT
  local text = tvb:raw(0, length)
  if not complete(text, is_request) then
    pinfo.desegment_offset = 0
    pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
    return length
  end

  local eq = text:find("=", 1, true)
  local name = text:sub(1, eq - 1)
  local kind = callback and (is_request and "callback" or "callback answer") or (is_request and "request" or "reply")
  pinfo.cols.protocol = "TQBSE"
  local root = tree:add(proto, tvb(0, length), "tqbse " .. kind .. ": " .. short(name))
  root:add(f_kind, tvb(0, length), kind)
  root:add(f_name, tvb(0, eq - 1), name)

  local call = CALLS[name]
  local names = call and (is_request and call.inputs or call.outputs) or {}
  local list = tokens(text, eq + 1)
  local shown = {}
  local result
  for k, token in ipairs(list) do
    local range = tvb(token[1], #token[2])
    local value = token_value(token[2])
    if not is_request and k == 1 then
      result = decode_int(token[2]:match("^%(n=(.*)%)$") or "")
      if result then
        root:add(f_result, range, result)
      else
        root:add(f_token, range, token[2]):append_text(" (no result code)")
      end
    else
      local index = is_request and k or k - 1
      -- After a negative result the emulator sends one text: its reason.
      local param = (not is_request and result and result < 0) and "reason" or names[index] or ("#" .. index)
      local item = root:add(f_param, range, param)
      item:set_text(param .. " = " .. (value or token[2]) .. "  " .. token[2]:sub(1, 40))
      item:add(f_value, range, value or token[2])
      shown[#shown + 1] = param .. "=" .. (value or "?")
    end
  end

  local info = short(name) .. "(" .. table.concat(shown, ", ") .. ")"
  if not is_request then
    local label = result and ((RESULTS[result] and (result .. " " .. RESULTS[result])) or tostring(result)) or "?"
    info = short(name) .. " -> " .. label .. (#shown > 0 and ", " .. table.concat(shown, ", ") or "")
  end
  pinfo.cols.info = kind:sub(1, 1):upper() .. kind:sub(2) .. " " .. info

  -- Link a reply to its request (first pass), then show the link.
  local stream = tostring(f_tcp_stream() or "")
  local frame = pinfo.number
  if not pinfo.visited then
    captured[frame] = pinfo.abs_ts
    if is_request then
      pending[stream] = frame
    elseif pending[stream] then
      request_of[frame] = pending[stream]
      reply_of[pending[stream]] = frame
      pending[stream] = nil
    end
  end
  if reply_of[frame] then
    root:add(f_response_in, reply_of[frame])
  end
  if request_of[frame] then
    root:add(f_request_in, request_of[frame])
    root:add(f_time, captured[frame] - captured[request_of[frame]])
  end
  return length
end

local tcp_port = DissectorTable.get("tcp.port")
tcp_port:add(SERVER_PORT, proto)
tcp_port:add(LISTENER_PORT, proto)
