#!/usr/bin/env python3
"""Makes the fuzz targets' seed corpora: raw host output recorded from the
demo host (both families, with telnet negotiations), the files of a pilot
pass, and a few hand-made inputs. Run from the repository with a built
build/: python3 fuzz/make_seeds.py"""
import os, shutil, socket, struct, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
CORPUS = os.path.join(ROOT, "fuzz", "corpus")

def put(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)

def sjis(s):
    return s.encode("cp932")

def start_host(tmp, *opts):
    ready = os.path.join(tmp, "ready")
    p = subprocess.Popen([os.path.join(BUILD, "brelo-demohost"), "--port", "0", "--http-port", "0",
                          "--data", os.path.join(tmp, "data"), "--ready", ready] + list(opts),
                         stdout=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(ready):
            ports = open(ready).read().split()
            if len(ports) == 2:
                return p, int(ports[0]), int(ports[1])
        time.sleep(0.05)
    raise SystemExit("demo host did not start")

def visit(port, lines):
    s = socket.create_connection(("127.0.0.1", port))
    s.settimeout(0.4)
    out = b""
    def read():
        nonlocal out
        end = time.time() + 0.8
        while time.time() < end:
            try:
                d = s.recv(65536)
                if not d:
                    return
                out += d
            except socket.timeout:
                pass
    read()
    for l in lines:
        s.sendall(sjis(l) + b"\r\n")
        read()
    s.close()
    return out

def main():
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    tmp = tempfile.mkdtemp()
    try:
        for family, opts in (("vesko", ["--negotiate"]), ("ktbbs", ["--ktbbs", "--negotiate"])):
            t = os.path.join(tmp, family)
            os.makedirs(t)
            host, port, http = start_host(t, *opts)
            try:
                raw = visit(port, ["GUEST", "", "", "y", "N@ 98/01/01", "u", "W", "ew8;t", "Y", "body", "//",
                                   "S", "emNOBODY;0", "0", "Q", ""])
                put("receive", "session-%s.bin" % family, raw)
                put("captures", "session-%s.txt" % family, raw)
                stealth = visit(port, ["$SET_LOGIN_MODE", "STEALTH", "MIDORI", "x", "Q", ""])
                put("captures", "login-%s.txt" % family, stealth)
                s = socket.create_connection(("127.0.0.1", http))
                s.sendall(b"GET /bbs/index.html HTTP/1.0\r\n\r\n")
                page = b""
                while True:
                    d = s.recv(4096)
                    if not d:
                        break
                    page += d
                put("weblookup", "page-%s.txt" % family, page)
            finally:
                host.terminate()
                host.wait()
        # A pilot pass: the files of a host folder.
        t = os.path.join(tmp, "pilot")
        os.makedirs(t)
        host, port, http = start_host(t)
        home = os.path.join(t, "home")
        os.makedirs(home)
        with open(os.path.join(home, "veskohosts.dat"), "wb") as f:
            f.write(b"[Hosts]\r\nCount=2\r\n[HOST 0]\r\nTitle=" + sjis("デモ") + b"\r\nFilePath=DEMO\r\n"
                    b"Address=telnet://127.0.0.1:%d/\r\nUserID=GUEST\r\nPassword=\r\nHandleName=Pallo\r\n"
                    b"HostKind=0\r\n[HOST 1]\r\nTitle=x\r\nHostKind=0x2\r\n" % port)
        subprocess.run([os.path.join(BUILD, "brelo"), "--pilot", "0", "--home", home, "--timeout", "60"],
                       stdout=subprocess.DEVNULL, check=True)
        host.terminate()
        host.wait()
        demo = os.path.join(home, "DEMO")
        boards = open(os.path.join(demo, "Boards.Dat"), "rb").read()
        put("boards", "pass.dat", boards)
        put("boards", "99.dat", boards[48:])
        put("boards", "short.dat", boards[:48 * 50 + 7])
        idx = open(os.path.join(demo, "MES01.IDX"), "rb").read()
        txt = open(os.path.join(demo, "MES01.TXT"), "rb").read()
        put("index", "pass.bin", struct.pack(">H", len(idx) // 4) + idx + txt)
        put("index", "partial.bin", struct.pack(">H", (len(idx) + 50) // 4) + idx + b"x" * 50 + txt[:40])
        put("hostlist", "list.dat", open(os.path.join(home, "veskohosts.dat"), "rb").read())
        put("ini", "hosts.ini", open(os.path.join(home, "veskohosts.dat"), "rb").read())
        put("captures", "log.txt", open(os.path.join(demo, time.strftime("%Y%m%d.LOG")), "rb").read())
    finally:
        shutil.rmtree(tmp)
    # Hand-made inputs.
    put("receive", "edits.bin", b"abc\tx\r\n" + sjis("あい") + b"\x08\x08\r\n\xff\xff\xff\xf9\rMAIN (A)>")
    put("captures", "ktbbs-news.txt", sjis("日付が 98/01/01 以降のものを読みます。\n0001: GENERAL  雑談\n"
                                          "Message  #0001 is from: A え\nTime: 98/03/15 21:07:33  Section 1:x\n"
                                          "Subj: t\nbody\n0012: PC       p\n12:HANDLE        >hi\n"))
    put("captures", "telegram.txt", b"=" * 60 + b"\n" + sjis("電報です。発信人は TARO さんです。\nやあ\n") + b"=" * 60 + b"\n")
    put("modem", "busy-connect.txt", b"ATZ\r\nOK\r\nATD0312345678\r\nBUSY\r\nATZ\r\nOK\r\nATD0312345678\r\n"
                                     b"CONNECT 9600/V42\r\nID: ")
    put("modem", "garbage.txt", b"NO CARRIER\r\nRING\r\n\x00\xff")
    for i, a in enumerate(["telnet://bbs.example.jp/", "telnet://127.0.0.1:2323/", "http://www.example.jp/a/b.html",
                           "tel://0312345678/", "0312345678", "bbs.example.jp", "localhost:2323", "TELNET://x",
                           "http://" + "a" * 300 + "/"]):
        put("address", "a%d.txt" % i, a.encode())
    put("ini", "settings.ini", b"[Text]\r\nQuoteString=>_\r\n[FileName]\r\nEditor=NotePad\r\n")
    put("ini", "modem.ini", b"; modem\r\n[MODEM]\r\nPORT = 0x2 \r\nRATE=\r\nINIT=\r\nDIAL=ATDT\r\n")
    rec = bytearray(464)
    struct.pack_into("<i", rec, 0, 5)
    rec[4] = 5
    rec[5:10] = b"title"
    rec[65] = 4
    rec[66:70] = b"TARO"
    rec[449] = 12
    rec[450:462] = b"980315kq.TXT"
    put("reservations", "two.dat", bytes(rec) + bytes(rec))
    put("reservations", "corrupt.dat", b"\xff" * 464 + b"\x01" * 100)

if __name__ == "__main__":
    main()
