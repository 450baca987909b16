#!/usr/bin/env python3
"""A minimal Zelvo agent: shows a picture and a text, then prints the events."""
import argparse, base64, json, socket, struct, sys


def send(sock, message):
    payload = json.dumps(message).encode("utf-8")
    sock.sendall(struct.pack(">i", len(payload)) + payload)


def picture(width=64, height=48):
    """A ZI picture of a frame: one bit a pixel, row after row, first pixel in bit 0."""
    bits = bytearray((width * height + 7) // 8)
    for i in range(width * height):
        x, y = i % width, i // width
        if x in (0, width - 1) or y in (0, height - 1):
            bits[i // 8] |= 1 << i % 8
    return b".zi" + bytes([width >> 4, (width & 15) << 4 | height >> 8, height & 255]) + bits


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("host", nargs="?", default="127.0.0.1")
    parser.add_argument("port", nargs="?", type=int, default=2000)
    parser.add_argument("--app", default="minimal-agent")
    parser.add_argument("--events", type=int, default=3, help="exit after this many")
    parser.add_argument("--timeout", type=float, default=30, help="seconds to wait for each")
    args = parser.parse_args()
    with socket.create_connection((args.host, args.port), timeout=args.timeout) as sock:
        send(sock, {"command.type": "zelvo_config",
                    "minPersistingTimeMillis": 500, "maxPersistingTimeMillis": 60000})
        send(sock, {"command.type": "agent_config", "appId": args.app,
                    "images": [base64.b64encode(picture()).decode("ascii")]})
        send(sock, {"command.type": "agent_content", "appId": args.app, "contentId": 1,
                    "layoutId": "2", "images.id": ["0"], "texts": ["Hello from Python"]})
        stream = sock.makefile("rb")
        for _ in range(args.events):
            try:
                header = stream.read(4)
                if len(header) < 4:
                    sys.exit("the emulator closed the connection")
                event = json.loads(stream.read(struct.unpack(">i", header)[0]))
            except TimeoutError:
                sys.exit(f"no event within {args.timeout} seconds")
            print(json.dumps(event, separators=(",", ":")), flush=True)
        # Ends without losing a frame: nothing more to send, then read until
        # the emulator closes (see "Connecting").
        sock.shutdown(socket.SHUT_WR)
        stream.read()


if __name__ == "__main__":
    main()
