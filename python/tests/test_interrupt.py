"""A call to a server that never answers ends when the connection is closed from another thread,
when the interpreter exits with a daemon thread in it, and on Ctrl-C; the plugin's diagnostics setting.

The stalled server (127.0.0.41, port 6002) answers the connection announcements
(RemoteConnection_Set), so connect() and close() complete, and reads every
other request without ever answering it. Its sockets all have timeouts and its
loops end with the test.
"""

import json
import os
import socket
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import tqbse

ADDRESS = "127.0.0.41"
PORT = 6002
ANNOUNCE = b"tqBsePluginControlDll_RemoteConnection_Set"
LIMIT_S = 60  # no server thread outlives this, whatever a test does


class StalledServer:
    def __init__(self):
        self.connections = 0
        self.requests = []
        self._stop = threading.Event()
        self._listening = socket.create_server((ADDRESS, PORT), reuse_port=False)
        self._listening.settimeout(0.05)
        self._threads = [threading.Thread(target=self._accept, daemon=True)]
        self._threads[0].start()

    def _accept(self):
        end = time.monotonic() + LIMIT_S
        while not self._stop.is_set() and time.monotonic() < end:
            try:
                peer, _ = self._listening.accept()
            except socket.timeout:
                continue
            self.connections += 1
            serving = threading.Thread(target=self._serve, args=(peer, end), daemon=True)
            self._threads.append(serving)
            serving.start()

    def _serve(self, peer, end):
        peer.settimeout(0.05)
        with peer:
            while not self._stop.is_set() and time.monotonic() < end:
                try:
                    data = peer.recv(65536)
                except socket.timeout:
                    continue
                except OSError:
                    return
                if not data:
                    return
                self.requests.append(data)
                if data.startswith(ANNOUNCE):
                    peer.sendall(ANNOUNCE + b"=(n=00000000)")

    def stop(self):
        self._stop.set()
        for thread in self._threads:
            thread.join(5)
        self._listening.close()


@pytest.fixture
def stalled():
    server = StalledServer()
    yield server
    server.stop()


def test_close_from_another_thread_ends_the_waiting_call_with_no_response(stalled):
    bse = tqbse.connect(ADDRESS)
    outcome = {}

    def wait_in_call():
        try:
            bse.rx_centre_frequency_get(0)
        except tqbse.Error as e:
            outcome["code"] = e.code
        outcome["at"] = time.monotonic()

    caller = threading.Thread(target=wait_in_call, daemon=True)
    caller.start()
    caller.join(0.3)
    assert caller.is_alive(), "the stalled server answered"
    closing = threading.Thread(target=bse.close, daemon=True)  # a hang fails the test, not the run
    started = time.monotonic()
    closing.start()
    closing.join(2)
    caller.join(2)
    assert not closing.is_alive() and not caller.is_alive()
    assert outcome["code"] == -14 and outcome["at"] - started < 2
    assert bse.closed
    with pytest.raises(tqbse.NotConnectedError):
        bse.rx_centre_frequency_get(0)
    with tqbse.connect(ADDRESS):  # the package is free to connect again
        pass


def run_child(code, timeout=20):
    """Runs `code` in a new interpreter with this package; (exit code, its last line as JSON or None)."""
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code), ADDRESS], capture_output=True, text=True,
                          timeout=timeout, env=dict(os.environ, PYTHONFAULTHANDLER="1"))
    lines = done.stdout.strip().splitlines()
    return done.returncode, json.loads(lines[-1]) if lines else None, done.stderr


def test_interpreter_exits_with_a_daemon_thread_waiting_in_a_call(stalled):
    started = time.monotonic()
    code, said, stderr = run_child("""
        import json, sys, threading, time
        import tqbse
        bse = tqbse.connect(sys.argv[1])
        caller = threading.Thread(target=bse.rx_centre_frequency_get, args=(0,), daemon=True)
        caller.start()
        caller.join(0.3)
        print(json.dumps({"waiting": caller.is_alive()}), flush=True)
    """)
    assert code == 0, stderr
    assert said == {"waiting": True}
    assert time.monotonic() - started < 15
    assert stalled.connections == 1


@pytest.mark.skipif(sys.platform == "win32", reason="a process sends itself SIGINT on POSIX only")
def test_ctrl_c_during_a_stalled_call_raises_keyboard_interrupt_and_drops_the_connection(stalled):
    code, said, stderr = run_child("""
        import json, os, signal, sys, threading, time
        import tqbse
        bse = tqbse.connect(sys.argv[1])
        sent = []

        def interrupt():
            time.sleep(0.3)
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)

        threading.Thread(target=interrupt, daemon=True).start()
        try:
            bse.rx_centre_frequency_get(0)
            result = {"interrupted": None}
        except KeyboardInterrupt:
            result = {"interrupted": time.monotonic() - sent[0]}
        started = time.monotonic()
        try:
            bse.rx_centre_frequency_get(0)
        except tqbse.Error as e:
            result.update(next=e.code, next_s=time.monotonic() - started)
        print(json.dumps(result), flush=True)
    """)
    assert code == 0, stderr
    assert said["interrupted"] is not None and said["interrupted"] < 1, said
    assert said["next"] == -14 and said["next_s"] < 1, said
    assert stalled.connections == 1  # dropped, not reconnected


def test_plugin_sends_the_library_diagnostics_to_stderr_unless_set(pytester, monkeypatch):
    pytester.makepyfile("""
        import os

        def test_diagnostics():
            print("TQBSE_DIAGNOSTICS=" + os.environ.get("TQBSE_DIAGNOSTICS", "(unset)"))
    """)
    for before, during in ((None, "stderr"), ("off", "off")):
        if before is None:
            monkeypatch.delenv("TQBSE_DIAGNOSTICS", raising=False)
        else:
            monkeypatch.setenv("TQBSE_DIAGNOSTICS", before)
        result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-s")
        result.assert_outcomes(passed=1)
        result.stdout.fnmatch_lines([f"*TQBSE_DIAGNOSTICS={during}*"])
