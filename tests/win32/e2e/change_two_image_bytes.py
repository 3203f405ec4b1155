#!/usr/bin/env python3
# change_two_image_bytes.py FILE OFFSET: one byte +1 and a later one -1, both within
# 8 KiB after OFFSET, so that the container's byte sum still holds while a signature's
# digest no longer does. Used by the Windows end-to-end tests on a signed firmware file.
import sys

path, at = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
up = next(i for i in range(at, at + 4096) if data[i] < 255)
down = next(i for i in range(up + 1, up + 4096) if data[i] > 0)
data[up] += 1
data[down] -= 1
open(path, "wb").write(data)
