"""Starting and stopping tqbse-emulator on a loopback address for tests and examples.

The library always talks to port 6002, so each emulator gets an address of
its own instead of a port: the first free one of 127.0.0.64 - 127.0.0.95
(starting at a place that depends on the process id, so that parallel test
runs rarely try the same one).
"""

from __future__ import annotations

import collections
import ipaddress
import os
import shutil
import socket
import subprocess
import threading
import time
from pathlib import Path
from typing import Any, Deque, Dict, List, Mapping, Optional, Sequence, Union

ENV_EMULATOR = "TQBSE_EMULATOR"
SERVER_PORT = 6002
ADDRESSES = [f"127.0.0.{n}" for n in range(64, 96)]
START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0


class EmulatorError(RuntimeError):
    """The emulator could not be found or started."""


def find_binary(explicit: Optional[Union[str, Path]] = None) -> str:
    """The emulator program: `explicit`, then TQBSE_EMULATOR, then tqbse-emulator on PATH."""
    for candidate in (explicit, os.environ.get(ENV_EMULATOR)):
        if candidate:
            path = Path(candidate)
            if not (path.is_file() and os.access(path, os.X_OK)):
                raise EmulatorError(f"{path} is not an executable tqbse-emulator")
            return str(path)
    found = shutil.which("tqbse-emulator")
    if not found:
        raise EmulatorError(f"tqbse-emulator not found: set {ENV_EMULATOR} to its path or put it on PATH")
    return found


def option_args(options: Mapping[str, Any]) -> List[str]:
    """{'trace_length': 64, 'bad_hex': True, 'config': path} -> ['--trace-length', '64', '--bad-hex', '--config', path].

    True gives the bare option, False or None leaves it out, a list or tuple
    gives one argument per item. The address and
    port are the fixture's to choose.
    """
    args: List[str] = []
    for key, value in options.items():
        flag = "--" + key.replace("_", "-")
        if flag in ("--bind", "--port"):
            raise ValueError(f"{flag} is chosen by the emulator fixture")
        if value is None or value is False:
            continue
        args.append(flag)
        if isinstance(value, (list, tuple)):
            args.extend(str(v) for v in value)  # an option of several values: event_every=(20, "Tick")
        elif value is not True:
            args.append(str(value))
    return args


def address_is_free(address: str, port: int = SERVER_PORT) -> bool:
    """True when nothing listens on address:port (a listening socket can be bound there)."""
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        probe.settimeout(1.0)
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        probe.bind((address, port))
        return True
    except OSError:
        return False
    finally:
        probe.close()


def free_addresses() -> List[str]:
    start = os.getpid() % len(ADDRESSES)
    ordered = ADDRESSES[start:] + ADDRESSES[:start]
    return [a for a in ordered if address_is_free(a)]


class Emulator:
    """A running tqbse-emulator: `address` to connect to, `output` lines so far, `stop()`."""

    def __init__(self, options: Optional[Mapping[str, Any]] = None, binary: Optional[Union[str, Path]] = None,
                 extra_args: Sequence[str] = (), address: Optional[str] = None) -> None:
        self.options: Dict[str, Any] = dict(options or {})
        # A loopback address of the caller's choosing, tried alone, instead of a free one of ADDRESSES.
        self.wanted = address
        self.binary = find_binary(binary)
        self.args = option_args(self.options) + list(extra_args)
        self.address = ""
        self.port = SERVER_PORT
        self._lines: Deque[str] = collections.deque(maxlen=20000)
        self._process: Optional[subprocess.Popen] = None
        self._reader: Optional[threading.Thread] = None
        self._listening = threading.Event()

    @property
    def output(self) -> List[str]:
        """What the emulator printed so far (standard output and error), one entry per line."""
        return list(self._lines)

    @property
    def running(self) -> bool:
        return self._process is not None and self._process.poll() is None

    def start(self) -> "Emulator":
        tried = []
        for address in [self.wanted] if self.wanted else free_addresses()[:8]:
            if self._start_at(address):
                return self
            tried.append(address)
            # Exit status 1: it could not listen there (taken meanwhile); try the next address.
            if self._process is not None and self._process.returncode != 1:
                break
        raise EmulatorError(
            f"tqbse-emulator did not start (tried {', '.join(tried) or 'no free address'}):\n" + "\n".join(self._lines)
        )

    def _start_at(self, address: str) -> bool:
        assert ipaddress.ip_address(address).is_loopback
        self._lines.clear()
        self._listening.clear()
        command = [self.binary, "--bind", address, "--port", str(SERVER_PORT), *self.args]
        self._process = subprocess.Popen(
            command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            encoding="latin-1", errors="replace",
        )
        self._reader = threading.Thread(target=self._read, args=(self._process,), daemon=True)
        self._reader.start()
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline:
            if self._listening.wait(0.05):
                self.address = address
                return True
            if self._process.poll() is not None:
                self._reader.join(timeout=STOP_TIMEOUT)
                return False
        self.stop()
        raise EmulatorError(f"tqbse-emulator did not listen on {address} within {START_TIMEOUT} s")

    def _read(self, process: subprocess.Popen) -> None:
        assert process.stdout is not None
        for line in process.stdout:
            line = line.rstrip("\n")
            self._lines.append(line)
            if " listening on " in line:
                self._listening.set()

    def stop(self) -> Optional[int]:
        """Stops the emulator (SIGTERM, then SIGKILL after 5 s); returns its exit status."""
        process, self._process = self._process, None
        if process is None:
            return None
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=STOP_TIMEOUT)
        if self._reader is not None:
            self._reader.join(timeout=STOP_TIMEOUT)
        if process.stdout is not None:
            process.stdout.close()
        return process.returncode

    def __enter__(self) -> "Emulator":
        return self.start()

    def __exit__(self, *exc: Any) -> None:
        self.stop()

    def __repr__(self) -> str:
        return f"<tqbse.emulator.Emulator {self.address or '-'}:{self.port} {' '.join(self.args)}>"
