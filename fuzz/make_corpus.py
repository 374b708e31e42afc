#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/<target>/ from the documented
request and reply examples. Rerun after changing the seeds; the files are
checked in so that CI needs no generation step."""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
P = "tqBsePluginControlDll_"


def n(v):
    return b"(n=" + struct.pack("<i", v).hex().encode() + b")"


def f(v):
    return b"(f=" + struct.pack("<f", v).hex().encode() + b")"


def d(v):
    return b"(d=" + struct.pack("<d", v).hex().encode() + b")"


def s(text):
    return b"(s=" + text + b")"


def da(values):
    body = b",".join(struct.pack("<d", v).hex().encode() for v in values)
    return b"(da=" + str(len(values)).encode() + b"[" + body + b"])"


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as out:
            out.write(seed)


codec_seeds = [
    n(1), n(-1), n(-8), n(256), b"(n=0100)", b"(d=000000000000f03f)", b"(d=000000000000F03F)",
    b"(n=01000000", f(1.0), d(1.0), s(b"abc"), b"(s=NULL)", s(b"a(b)c"),
    b"X=(s=a(b)c)(n=01000000)", b"X=(n=01000000) (n=02000000)", b"X=", b"X=(n=01000000)tail",
    da([1.0, 2.0]), b"(da=3[000000000000f03f,0000000000000040])", b"(da=x[000000000000f03f])",
    b"(da=0[])", b"(da=2[000000000000f03f", b"(da=1000000000000f03f)",
    P.encode() + b"RX_CentreFrequency_Set=(n=00000000)(d=0000000065cdcd41)",
    P.encode() + b"RX_CentreFrequency_Get=" + n(0) + d(1.0),
    P.encode() + b"RX_CentreFrequency_Get=(n=f8ffffff)",
]
write("fuzz_codec", codec_seeds)

# fuzz_call_remote: byte 0 picks the call (bit 7: the input is the whole
# reply), byte 1 the buffer size or capacity, the rest follows "name=".
calls = [
    ("TestCase_Count_Get", [n(0) + n(5), n(1) + n(5), n(1)]),
    ("LoggingState_Get", [n(0) + n(-1)]),
    ("RX_InputLevel_Get", [n(0) + f(1.0), n(0) + d(1.0)]),
    ("RX_CentreFrequency_Get", [n(0) + d(1.0), n(-8)]),
    ("Protocol_Results_GetResultItem", [n(0) + d(1.0) + d(2.0), n(0) + d(1.0)]),
    ("Scenario_Name_Get", [n(0) + s(b"hello"), n(0) + b"(s=NULL)", n(0) + s(b"a(b)c"),
                           n(0) + s(bytes(range(0x80, 0x100)))]),
    ("Scenario_Download", [n(0) + s(b"<scenario/>"), n(2) + s(b"x")]),
    ("DebugFilters_State_Get", [n(0) + n(-1)]),
    ("Protocol_Results_GetTrace", [n(0) + da([1.0, 2.0]) + da([3.0, 4.0]), n(0) + b"(da=0[])(da=0[])",
                                   n(0) + da([1.0] * 10) + da([2.0] * 10)]),
    ("LTE_Results_GetTrace", [n(0) + da([1.0]) + da([2.0]), n(0) + da([1.0])]),
    ("GetServerVersion", [n(0) + n(6) + n(0) + n(0) + n(0), n(2) + n(7) + n(0) + n(0) + n(0)]),
    ("FullProtocolReset", [n(0), n(0) + n(5), b"", n(-9)]),
]
seeds = []
for index, (name, bodies) in enumerate(calls):
    for body in bodies:
        for size in (0, 5, 10, 32):
            seeds.append(bytes([index, size]) + body)
    seeds.append(bytes([0x80 | index, 8]) + (P + calls[(index + 1) % len(calls)][0]).encode() + b"=" + n(0))
write("fuzz_call_remote", seeds)

write("fuzz_default_handler", [
    P.encode() + b"RX_CentreFrequency_Set=(n=00000000)(d=0000000065cdcd41)",
    b"=(n=00000000)", b"__CLIENT_REMOTE_TERMINATED__=()", b"no equals sign", b"",
    b"A=B=C", bytes(range(1, 256)),
])


# fuzz_framer: bytes 0 and 1 seed the cuts, the rest is the stream.
write("fuzz_framer", [
    b"\x00\x01" + P.encode() + b"RX_CentreFrequency_Get=" + n(0) + d(1.0),
    b"\x07\x00" + P.encode() + b"Scenario_Upload=" + s(b"a(b)c") + s(b"x" * 5000),
    b"\x00\x00R=(n=00000000)\x00junk)(s=((x)))",
    b"\xff\xffX=(s=a)b)c)" + n(1) * 10,
    b"\x12\x34" + P.encode() + b"TestCase_Count_Get=",
    b"\x01\x02" + P.encode() + b"Protocol_Results_GetTrace=" + n(0) + da([1.0] * 300) + da([2.0] * 300),
])


def rows():
    """(name, [(role, param)...]) of every row, read from the call tables."""
    import glob
    import re
    found = []
    files = glob.glob(os.path.join(HERE, "..", "protocol", "rows", "*.h"))
    param = r"\(\s*(\w+)\s*,\s*(\w+)\s*(?:,\s*\w+\s*)?\)"
    for path in sorted(files):
        text = open(path).read().replace("\\\n", " ")
        for m in re.finditer(r"X\(\s*(\w+)\s*,\s*(\w+)\s*,\s*(\w+)\s*((?:,\s*" + param + r"\s*)*)\)", text):
            params = re.findall(param, m.group(4))
            if m.group(3) != "name":  # the helper macro's own definition
                found.append((m.group(3), params))
        # Rows written through a helper macro: TQ_LTE_SINGLE_VALUE(X, name).
        for m in re.finditer(r"TQ_LTE_SINGLE_VALUE\(X,\s*(\w+)\)", text):
            found.append((m.group(1), [("InInt", "handle"), ("OutFloat", "value")]))
    return found


def request(name, params, size=64):
    out = (P + name + "=").encode()
    tail = b""
    for role, _ in params:
        if role in ("InInt", "InBool"):
            out += n(1)
        elif role == "InFloat":
            out += f(-10.0)
        elif role == "InDouble":
            out += d(1e9)
        elif role == "InText":
            out += s(b"Default")
        elif role in ("BufferSize", "Capacity"):
            tail = n(size)
    return out + tail


emulator_seeds = []
all_rows = rows()
for name, params in all_rows:
    emulator_seeds.append(request(name, params))
# Sessions: a handle taken and used, an upload then a download, odd requests.
emulator_seeds += [
    b"\n".join([request("Protocol_MeasurementEnabled_Set", [("InInt", 0), ("InBool", 0)]),
                request("Protocol_Results_GetHandle", []),
                P.encode() + b"Protocol_Results_GetTrace=" + n(1) + n(0) + n(16),
                P.encode() + b"Results_DeleteHandle=" + n(1)]),
    b"\n".join([P.encode() + b"Scenario_Upload=" + s(b"Mine") + s(b"<scenario/>"),
                P.encode() + b"Scenario_DownloadSize_Get=" + s(b"Mine"),
                P.encode() + b"Scenario_Download=" + s(b"Mine") + n(64),
                P.encode() + b"Scenario_Execute=" + s(b"Mine"),
                P.encode() + b"Scenario_IsRunning_Get="]),
    P.encode() + b"RX_CentreFrequency_Set=(n=00000000)(d=0000000065cdcd41)",
    P.encode() + b"RX_CentreFrequency_Set=(n=00000000)", b"Unknown=(n=00000000)", b"=", b"",
    P.encode() + b"Scenario_Execute=(s=NULL)", P.encode() + b"Scenario_Execute=(s=a(b)c)",
    P.encode() + b"GetErrorMsg=" + n(-99) + n(16),
]
print(f"{len(all_rows)} rows read for the emulator seeds")
write("fuzz_emulator", emulator_seeds)
