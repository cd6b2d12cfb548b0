#!/usr/bin/env python3
"""Makes the duplicate finder's benchmark input: the first N games of a PGN file with a given
share of them planted again as copies (deterministic: every k-th game, half exact copies, half
with another Event tag), each copy written some 997 games after its original.

usage: plant_copies.py IN.pgn OUT.pgn [TOTAL=1000000] [SHARE=0.05]"""
import sys


def games(path):
    block = []
    with open(path, 'rb') as f:
        for line in f:
            if line.startswith(b'[Event ') and block and any(l.strip() and not l.startswith(b'[') for l in block):
                yield b''.join(block)
                block = []
            block.append(line)
    if block:
        yield b''.join(block)


def main():
    src, dst = sys.argv[1], sys.argv[2]
    total = int(sys.argv[3]) if len(sys.argv) > 3 else 1000000
    share = float(sys.argv[4]) if len(sys.argv) > 4 else 0.05
    copies = int(total * share)
    originals = total - copies
    every = max(1, originals // copies)
    pending = []  # (due index, bytes)
    written = planted = 0
    with open(dst, 'wb') as out:
        for i, g in enumerate(games(src)):
            if i >= originals:
                break
            out.write(g)
            written += 1
            if i % every == 0 and planted + len(pending) < copies:
                c = g if (i // every) % 2 == 0 else g.replace(b'[Event "', b'[Event "Copy of ', 1)
                pending.append((i + 997, c))
            while pending and pending[0][0] <= i:
                out.write(pending.pop(0)[1])
                planted += 1
        for _, c in pending:
            out.write(c)
            planted += 1
    print(f'{written} games, {planted} copies, {written + planted} in all')


if __name__ == '__main__':
    main()
