"""The agent protocol document's minimal agent, run against the real emulator."""
import json
import os
import pathlib
import runpy
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
DOCUMENT = ROOT / "docs" / "agent-protocol.md"
AGENT = ROOT / "docs" / "examples" / "minimal_agent.py"
APP = "minimal-agent"

# Loaded without writing bytecode next to it: tests leave the source tree alone.
agent_picture = runpy.run_path(str(AGENT))["picture"]


def port_is_free(port):
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("", port))
        except OSError:
            return False
    return True


def read_frame(sock):
    header = sock.recv(4, socket.MSG_WAITALL)
    length = struct.unpack(">i", header)[0]
    return sock.recv(length, socket.MSG_WAITALL)


class DocumentTest(unittest.TestCase):
    def test_document_shows_the_agent_verbatim(self):
        self.assertIn("```python\n" + AGENT.read_text() + "```\n", DOCUMENT.read_text())


class EmulatorTest(unittest.TestCase):
    def ctl(self, *arguments):
        return subprocess.run([os.environ["ZELVO_CTL"], *arguments], env=self.env,
                              capture_output=True, text=True, timeout=60)

    def setUp(self):
        if not port_is_free(2000) or not port_is_free(2001):
            self.skipTest("another program holds port 2000 or 2001 on this machine")
        home = tempfile.TemporaryDirectory()
        self.addCleanup(home.cleanup)
        self.home = pathlib.Path(home.name)
        self.env = dict(os.environ, HOME=home.name, XDG_CONFIG_HOME=f"{home.name}/.config",
                        QT_QPA_PLATFORM="offscreen")
        self.log = open(self.home / "emulator.log", "wb")
        self.addCleanup(self.log.close)
        emulator = subprocess.Popen([os.environ["ZELVO_EMULATOR"]], env=self.env,
                                    stdout=self.log, stderr=subprocess.STDOUT)
        self.addCleanup(self.stop, emulator)
        # The control channel opens only once port 2000 listens.
        self.wait_until(lambda: emulator.poll() is None and self.ctl("state").returncode == 0)

    def stop(self, process):
        process.kill()
        process.wait(30)

    def wait_until(self, condition):
        deadline = time.monotonic() + 30
        while not condition():
            if time.monotonic() > deadline:
                self.log.flush()
                self.fail((self.home / "emulator.log").read_text(errors="replace")[-3000:])
            time.sleep(0.1)

    def test_agent_shows_content_and_receives_a_click(self):
        agent = subprocess.Popen([sys.executable, str(AGENT), "127.0.0.1", "2000", "--events", "3"],
                                 env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self.stop, agent)
        waited = self.ctl("wait", "--content-of", APP, "--timeout", "30")
        self.assertEqual(waited.returncode, 0, waited.stderr)

        # A second agent sees the same events as raw frames.
        with socket.create_connection(("127.0.0.1", 2000), timeout=30) as raw:
            self.wait_until(lambda: json.loads(self.ctl("state").stdout)["agents"] == 2)
            clicked = self.ctl("click", "plus")
            self.assertEqual(clicked.returncode, 0, clicked.stderr)
            frames = [read_frame(raw) for _ in range(3)]

        out, err = agent.communicate(timeout=60)
        self.assertEqual(agent.returncode, 0, err)
        for gesture, line in enumerate(out.splitlines()):
            self.assertEqual(json.loads(line), json.loads(frames[gesture]))
            self.assertEqual(json.loads(line), {"appId": APP, "contentId": "1", "what_changed": "event",
                                     "data": {"type": 4, "values": ["0.000", f"{gesture}.000", "0.000", "0.000"]}})
        # The clicked event is the document's example, byte for byte.
        self.assertIn("```json\n" + frames[2].decode() + "```\n", DOCUMENT.read_text())

        stored = self.home / "Pictures" / "Zelvo" / APP / f"{APP}_0.zi"
        self.assertEqual(stored.read_bytes(), agent_picture())


if __name__ == "__main__":
    unittest.main()
