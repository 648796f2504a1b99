#!/usr/bin/env python3
"""Writes tables.inc: TABLES PROGMEM tables of TABLE_SIZE bytes, and TABLE_READ(i) touching each."""
import sys

out, tables, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
assert size % 16 == 0
with open(out, "w") as f:
    for t in range(tables):
        rows = ",\n".join(f"ROW16({t}, {i}u)" for i in range(0, size, 16))
        f.write(f"const uint8_t table{t}[{size}] PROGMEM __attribute__((used)) = {{\n{rows}\n}};\n")
    far = " ^ ".join(f"pgm_read_byte_far(pgm_get_far_address(table{t}) + (i))" for t in range(tables))
    near = " ^ ".join(f"pgm_read_byte(&table{t}[i])" for t in range(tables))
    f.write(f"#ifdef RAMPZ\n#define TABLE_READ(i) ({far})\n#else\n#define TABLE_READ(i) ({near})\n#endif\n")
