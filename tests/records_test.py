#!/usr/bin/env python3
"""records_test.py - the machine contract: every JSON record the tool writes (one-shot accesses, failed
ones too, a batch's answers and errors, blank and comment lines, sleeps, decodings, dumps, hex dumps, names, memory tests,
listed boards, a board that does not open) validates against docs/records.schema.json, names from a hostile map escaped;
every batch line's answer ends with its mark; a 64-bit value is exact as its hex string. Usage: records_test.py TOOL SOURCE-DIR"""
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

tool, source = sys.argv[1], sys.argv[2]
schema = json.load(open(source + "/docs/records.schema.json"))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
hostile = ('<device><peripherals><peripheral><name>P\x1b]0;x\x07</name><baseAddress>0</baseAddress><registers>'
           '<register><name>R"\\</name><addressOffset>0</addressOffset></register></registers></peripheral>'
           '</peripherals></device>\n')
runs = [
    ([tool, "--json", "--read", "0x10", "--write16", "0x20=0xBEEF", "--decode", "0x80800322", "--decode", "5"], ""),
    ([tool, "--json", "--map", source + "/tests/maps/board.svd", "--batch", "-"],
     "write UART.CTRL=5\nread8 0x2004\nread 0x4000000\nbogus\nsleep 1\nbridge-read 0\nread CTRL\nwrite 0x10=1:0xF\n"
     "# a comment\n\nhexdump 0:32\nbridge-hexdump\nnames board\ndecode 0x80800322\nwrite UART.CTRL.MODE=2\nmemtest 0:16\n"),
]
runs.append(([tool, "--json", "--map", source + "/tests/maps/board.svd", "--map-base", "0x40000100", "--dump"], ""))
runs.append(([tool, "--json", "--list"], ""))
# A board that does not open: its record, in every mode.
runs.append(([tool, "--json", "/B9", "--read", "0"], ""))
# A 64-bit register: its value as a hex string too, every bit of it.
wide = ('<device><peripherals><peripheral><name>CLINT</name><baseAddress>0</baseAddress><registers><register><name>mtime'
        '</name><addressOffset>0x20</addressOffset><size>64</size></register></registers></peripheral></peripherals></device>\n')
# A one-shot access that fails: its record (code and the library's text) before the run ends with 1.
failing = [tool, "--json", "--map", source + "/tests/maps/board.svd", "--read", "UART.CTRL", "--read", "0x4000000"]
runs.append((failing, ""))
# A dump whose read fails: the register's record with the code and the library's text, then the end.
runs.append(([tool, "--json", "--map", source + "/tests/maps/board.svd", "--dump"], "", {"KYNSIM_FAIL": "ReadReg32:0x80800322@0xC"}))
runs.append(([tool, "--json", "--memtest", "0:0x40", "--patterns", "address,walking-ones,solid,random"], ""))
passed = failed = 0
with tempfile.NamedTemporaryFile("w", suffix=".svd") as mapfile:
    mapfile.write(hostile)
    mapfile.flush()
    runs.append(([tool, "--json", "--map", mapfile.name, "--read", "0", "--batch", "-"], "read 0\n"))
    widefile = tempfile.NamedTemporaryFile("w", suffix=".svd")
    widefile.write(wide)
    widefile.flush()
    runs.append(([tool, "--json", "--map", widefile.name, "--write", "CLINT.mtime=0x0020000012345679", "--read", "CLINT.mtime",
                  "--dump"], ""))
    for args, text, *settings in runs:
        env = dict(os.environ, KYNSIM_MEMORY="stuck-low=0x100") if "--memtest" in args else None
        env = dict(os.environ, **settings[0]) if settings else env
        out = subprocess.run(args, input=text, capture_output=True, text=True, errors="strict", env=env).stdout
        if settings and '"error":' not in out.splitlines()[-1]:
            failed += 1
            print("FAILED: no failure record last:", out)
        for line in out.splitlines():
            record = json.loads(line)
            errors = list(validator.iter_errors(record))
            if errors or "\x1b" in line:
                failed += 1
                print("FAILED:", line, errors[:1])
            else:
                passed += 1
failure = subprocess.run(failing, capture_output=True, text=True)
expected = ('{"address":67108864,"board_number":0,"board_type":6,"code":"0X32 [1.4]","device":"board","error":"Register '
            'address is outside the device window.","op":"read","result":-2139093966,"version":2,"width":32}')
if failure.returncode != 1 or failure.stdout.splitlines()[-1:] != [expected] or "ERROR(0X32 [1.4])" not in failure.stderr:
    failed += 1
    print("FAILED: a failed one-shot access:", failure.returncode, repr(failure.stdout), repr(failure.stderr))
# Every batch line answered, its last record marked: a client reading to each mark never hangs.
batch = subprocess.run([tool, "--json", "--batch", "-"], input="read 0\n# note\n\nmemtest 0:8\nbogus\n", capture_output=True,
                       text=True).stdout.splitlines()
ends = [json.loads(line)["line"] for line in batch if json.loads(line).get("end")]
if ends != [1, 2, 3, 4, 5]:
    failed += 1
    print("FAILED: line ends", ends, batch)
# A hex dump larger than 4 KiB: a record for each 4 KiB, each with its start.
dump = [json.loads(line) for line in subprocess.run([tool, "--json", "--hexdump", "0:0x2004"], capture_output=True,
                                                    text=True).stdout.splitlines()]
if [(r["start"], len(r["bytes"])) for r in dump] != [(0, 4096), (4096, 4096), (8192, 4)] or any(list(validator.iter_errors(r)) for r in dump):
    failed += 1
    print("FAILED: a large hex dump's records:", [(r.get("start"), len(r.get("bytes", []))) for r in dump])
# The 64-bit register's value, exact to the last bit.
wide_read = subprocess.run([tool, "--json", "--map", widefile.name, "--write", "CLINT.mtime=0x0020000012345679", "--read",
                            "CLINT.mtime"], capture_output=True, text=True).stdout.splitlines()
if json.loads(wide_read[-1]).get("value_hex") != "0x0020000012345679":
    failed += 1
    print("FAILED: a 64-bit value's hex string:", wide_read)
print("records: %d passed, %d failed" % (passed, failed))
sys.exit(1 if failed or passed < 60 else 0)
