#!/usr/bin/env python3
"""Writes the preset-file fixtures next to this script. Run again only to change them."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def crlf(lines):
    return "".join(line + "\r\n" for line in lines)


write("preset_good.txt", crlf([
    "; presets for practice",
    "timer=10",
    "fluct=0.3",
    "Four parm=(1111) m80 s1 a0 d0 g0 f0",
    "Waltz parm=(3-) m96 s1 a0 d1 g0 f0 memo=slow",
    "----- odd meters -----",
    "Seven parm=(3 2 2) m120 s0 a1 d1 g1 f0 memo=  count it  ",
    "",
    "Drift parm=(1) m60 s1 a0 d0 g0 f1",
]).encode("ascii"))

write("preset_malformed.txt", crlf([
    "no fields at all",
    "Bad parm=(3a) m90",
    "Open parm=(12 m70",
    "Twice parm=(1) m50 parm=(2) m60",
    "parm=(4) m100",
    "Flags parm=(2) mx s a d g f",
    "Memo only memo=",
    "\ttab parm=(1) m70",
    " ;indented comment",
    "   ",
    "Timer=30",
    "timer=",
    "fluct=abc",
    "-",
    "Lone\rCR parm=(2) m88",
    "Digits parm=(1) m" + "9" * 400,
]).encode("ascii"))

# Code page 932 with CR LF; the titles use kanji whose second byte is 0x5C (表, ソ).
write("preset_cp932.txt", crlf([
    "; 練習用メニュー",
    "ワルツ parm=(3-) m96 s1 a0 d1 g0 f0 memo=ゆっくり",
    "-",
    "行進曲 parm=(2-) m120 s1 a1 d0 g0 f0",
    "表拍ソロ parm=(1111) m80 s0 a0 d0 g1 f0 memo=表で数える",
]).encode("cp932"))

# 120 entries; the settings after the 101st entry come before or after the 102nd.
lines = []
for i in range(120):
    lines.append("P%03d parm=(1) m%d" % (i, 60 + i))
    if i == 100:
        lines.append("timer=30")
    if i == 101:
        lines.append("timer=90")
write("preset_120_entries.txt", crlf(lines).encode("ascii"))
