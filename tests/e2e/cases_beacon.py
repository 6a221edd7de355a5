"""End-to-end cases of the install report and its beacon: real installers
that call ReportInstall, loopback servers that record every request as it
came over the wire, the offline cache read with Debian's sqlite3, the
statistic log, and the records the info-collection stand-in received.

The installers load the loopback copy of the plug-in, whose two beacon
hosts are 127.0.0.1, except where a case says it loads the shipped one.
Requests leave only for servers on 127.0.0.1: a "no server" case uses a
closed port there, refused at once.

Every case deletes HKLM\\SOFTWARE\\Vardo and the data folder at its start
and end, and puts back the prefix's settings it changes.
"""
import base64
import contextlib
import re
import shutil
import subprocess
import time

from cases_cache import data_folder, sqlite
from cases_report import ProductKey, install_standin, log_lines, place_version, starting
from harness import check, check_equal, read_lines
from loopback import RecordingServer, closed_port
from poor_network import DroppingPort

VERSION = "2.5.0.1234"
REFERER = f"http://127.0.0.1/install/{VERSION}"
COUNTER_URL = "http://127.0.0.1/2813985/tongji.gif"
NT_VERSION = {"main": "6.1", "xp64": "5.2", "win32": "5.1"}
IE_KEY = r"HKLM\SOFTWARE\Microsoft\Internet Explorer"
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
LOG_LINE = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\] (.*)$")
# As a proxy sees the counter's request: the absolute URL with the port of
# the connect call, 80.
PROXY_LINE = "GET http://127.0.0.1:80/2813985/tongji.gif HTTP/1.1"
DIRECT_LINE = "GET /2813985/tongji.gif HTTP/1.1"


def reg_value(h, key, name, view="/reg:32"):
    """A value's data as reg.exe prints it, or None when it is missing."""
    out = subprocess.run([h.wine, "reg", "query", key, "/v", name, view], env=h.env, capture_output=True,
                         text=True, timeout=120).stdout
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name:
            return parts[2] if len(parts) == 3 else ""
    return None


def user_agent(kind, ie):
    return (f"User-Agent: Mozilla/4.0 (compatible; MSIE {ie}; Windows NT {NT_VERSION[kind]}; Trident/4.0; SLCC2; "
            ".NET CLR 2.0.50727; .NET CLR 3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0; InfoPath.2; "
            "Tablet PC 2.0; .NET4.0C)")


def install_record(preid=5, install_type=1):
    return (f"write channel#1 lumbra_install|preid=int:{preid}|update=int:{int(install_type == 1)}"
            f"|cover=int:{int(install_type == 2)}")


class Product:
    """The product installed below the case's folder (in folder): its key
    with an identity ("PreOEMID" 5, "InstallType" given), its version
    library, the info-collection stand-in and the configuration file; the
    database stand-in beside the installers, which are named host; an
    empty data folder."""

    def __init__(self, h, install_type=1, folder="Vardo", host="setup.exe"):
        self.h = h
        self.root = h.work / folder
        self.host = host
        self.install_type = install_type
        self.key = ProductKey(h)
        self.gleanor_log = None

    def __enter__(self):
        h = self.h
        shutil.rmtree(data_folder(h), ignore_errors=True)
        self.key.__enter__()
        self.key.identity(install=self.root)
        self.key.set(r"HKLM\SOFTWARE\Vardo\Coop", "PreOEMID", "5")
        check_equal(0, h.wine_reg("add", r"HKLM\SOFTWARE\Vardo\Coop", "/v", "InstallType", "/t", "REG_DWORD", "/d",
                                  str(self.install_type), "/f", "/reg:32"), "reg add InstallType")
        place_version(h, "pelvo_2_5", "pelvo.dll", self.root)
        self.gleanor_log = install_standin(h, self.root)
        library = h.standins / "tarnbase.dll"
        if library.exists():
            shutil.copyfile(library, h.work / "tarnbase.dll")
        return self

    def __exit__(self, *_):
        self.key.__exit__()
        shutil.rmtree(data_folder(self.h), ignore_errors=True)

    def config(self, text):
        (self.root / "Cfg").mkdir(parents=True, exist_ok=True)
        (self.root / "Cfg" / "config.ini").write_bytes(self.h.profile_bytes(text))

    def proxy(self, port, extra=""):
        self.config(f"[Proxy]\nMode=2\nHost=127.0.0.1\nPort={port}\n{extra}")

    def installer(self, plugin_dir=None, folder=".", script="report_install.nsi", **defines):
        h = self.h
        return h.build_installer(script, f"{folder}/{self.host}", plugin_dir=plugin_dir or h.loopback_plugin_dir,
                                 **defines)

    def run(self, exe, result_name="result.txt"):
        """Runs the installer; its result lines and the seconds around it."""
        started = int(time.time())
        lines, _ = self.h.run_installer(exe, result_name=result_name)
        return lines, started, int(time.time())

    def install_records(self):
        return starting(log_lines(self.gleanor_log), "write channel#1")

    def rows(self):
        cache = data_folder(self.h) / "feed.cache"
        if not cache.exists():
            return []
        check_equal(["ok"], sqlite(cache, "pragma integrity_check"), "integrity of feed.cache")
        return [row.split("|") for row in sqlite(cache, "select CommitTime, URL, RefererURL from statistic3 order by ID")]

    @property
    def statistic_log(self):
        return f"{self.host}_statistic.log"

    def log_records(self):
        """The records of the statistic log's lines, after checking that it
        starts with one FF FE and holds only whole lines."""
        log = data_folder(self.h) / self.statistic_log
        if not log.exists():
            return []
        raw = log.read_bytes()
        check(raw.startswith(b"\xff\xfe"), f"the log starts with {raw[:2]!r}")
        text = raw.decode("utf-16-le")
        check_equal(1, text.count("\ufeff"), "FF FE marks in the log")
        check(text.endswith("\r\n"), f"the log's last line is cut: {text[-80:]!r}")
        lines = text[1:].split("\r\n")[:-1]
        return [LOG_LINE.match(line).group(1) if LOG_LINE.match(line) else f"not a line: {line!r}" for line in lines]


def browser_version(h):
    """The Internet Explorer "Version" the plug-in reads: the 32-bit view's,
    or the prefix's own where it has no 32-bit part (made on a host that
    cannot start 32-bit programs)."""
    if not hasattr(h, "browser_version"):
        h.browser_version = reg_value(h, IE_KEY, "Version") or reg_value(h, IE_KEY, "Version", "/reg:64")
    return h.browser_version


def head(h, line, extra=()):
    """The request a server should see: line and header lines, in order."""
    return [line, "Accept: */*", "Host: 127.0.0.1", f"Referer: {REFERER}",
            user_agent(h.kind, (browser_version(h) or "0.0")[:3]), *extra]


def heads(server):
    return [[request.line.decode("latin-1")] + [l.decode("latin-1") for l in request.header_lines]
            for request in server.requests]


def basic(login, password):
    return "Proxy-Authorization: Basic " + base64.b64encode(f"{login}:{password}".encode()).decode()


def check_delivered(product, runs, what):
    """Delivered: nothing stored, nothing logged; each run's install record
    reached the component all the same."""
    check_equal([], product.rows(), f"rows of feed.cache {what}")
    check_equal([], product.log_records(), f"statistic log {what}")
    check_equal([install_record(install_type=product.install_type)] * runs, product.install_records(),
                f"install records {what}")


def case_beacon_named_proxy(h):
    with Product(h) as product:
        exe = product.installer()
        runs = 0
        # A proxy with a port; what it answers does not matter.
        for status in (200, 404):
            with RecordingServer(status=status) as proxy:
                product.proxy(proxy.port)
                lines, _, _ = product.run(exe)
                runs += 1
            check_equal(["after:[below]"], lines, f"stack, proxy answering {status}")
            check_equal([head(h, PROXY_LINE)], heads(proxy), f"requests at the proxy answering {status}")
        # A proxy without a port: the proxy's default port, 80.
        with RecordingServer(port=80) as proxy:
            product.proxy(0)
            product.run(exe)
            runs += 1
        check_equal([head(h, PROXY_LINE)], heads(proxy), "requests at the proxy without a port")
        # A proxy that asks for credentials gets them when "Needauth" is set,
        # and is answered nothing when it is not.
        for needauth in (1, 0):
            with RecordingServer(ask_credentials=True) as proxy:
                product.proxy(proxy.port, f"Needauth={needauth}\nLogin=vardo user\nPassword=p:ss word\n")
                product.run(exe)
                runs += 1
            expected = [head(h, PROXY_LINE)]
            if needauth:
                expected.append(head(h, PROXY_LINE, extra=[basic("vardo user", "p:ss word")]))
            check_equal(expected, heads(proxy), f"requests at the proxy that asks for credentials, Needauth={needauth}")
        check_delivered(product, runs, "after delivered requests")


@contextlib.contextmanager
def preconfigured_proxy(h, server):
    """The prefix's Internet settings name the server as the proxy; the
    values are put back as they were."""
    names = {"ProxyEnable": "REG_DWORD", "ProxyServer": "REG_SZ"}
    before = {name: reg_value(h, INTERNET_SETTINGS, name) for name in names}
    try:
        for name, data in (("ProxyEnable", "1"), ("ProxyServer", f"127.0.0.1:{server.port}")):
            check_equal(0, h.wine_reg("add", INTERNET_SETTINGS, "/v", name, "/t", names[name], "/d", data, "/f"),
                        f"reg add {name}")
        yield
    finally:
        for name, value in before.items():
            if value is None:
                h.wine_reg("delete", INTERNET_SETTINGS, "/v", name, "/f")
            else:
                h.wine_reg("add", INTERNET_SETTINGS, "/v", name, "/t", names[name], "/d", value, "/f")


def case_beacon_preconfigured(h):
    with Product(h, install_type=2) as product:
        exe = product.installer()
        with RecordingServer(ask_credentials=True) as proxy, preconfigured_proxy(h, proxy):
            # The credentials are set in this mode too.
            product.config("[Proxy]\nMode=1\nHost=127.0.0.2\nPort=1\nNeedauth=1\nLogin=vardo\nPassword=secret\n")
            product.run(exe)
            credentials = heads(proxy)
            # No configuration file at all: the same mode, without credentials.
            shutil.rmtree(product.root / "Cfg")
            del proxy.requests[:]
            product.run(exe)
            plain = heads(proxy)
        check_equal([head(h, PROXY_LINE), head(h, PROXY_LINE, extra=[basic("vardo", "secret")])],
                    credentials, "requests at the system's proxy, Needauth=1")
        check_equal([head(h, PROXY_LINE)], plain, "requests at the system's proxy without a configuration file")
        check_delivered(product, 2, "through the system's proxy")


def case_beacon_direct(h):
    with Product(h) as product:
        product.config("[Proxy]\nMode=0\nNeedauth=1\nLogin=vardo\nPassword=secret\n")
        with RecordingServer(port=80) as counter:
            lines, _, _ = product.run(product.installer())
        check_equal(["after:[below]"], lines, "stack")
        # Never credentials without a proxy.
        check_equal([head(h, DIRECT_LINE)], heads(counter), "requests at the counter")
        check_delivered(product, 1, "directly")


def check_stored(product, requests, what):
    """The cache holds one row per (url, referer, started, ended), in that
    order, with its time between the two, and the log an INFO line for
    each, with the same time."""
    rows = product.rows()
    check_equal([(url, referer) for url, referer, _, _ in requests], [(u, r) for _, u, r in rows],
                f"rows of feed.cache {what}")
    for (_, _, started, ended), (commit_time, _, _) in zip(requests, rows):
        check(started <= int(commit_time) <= ended, f"CommitTime {commit_time} not in [{started}, {ended}] {what}")
    check_equal(sorted(f"[INFO.SaveStatistic] url:{url}, refer_url:{referer}, time:{t}, count:1" for t, url, referer in rows),
                sorted(product.log_records()[:len(rows)]), f"statistic log {what}")


def case_beacon_no_server(h):
    """Also from an install folder and an installer named with the
    flavour's foreign text: the version, the records and the log's name
    and lines arrive whole."""
    with Product(h, install_type=2, folder=f"Vardo{h.foreign}", host=f"setup{h.foreign}.exe") as product:
        statistic_log = h.windows_path(data_folder(h) / product.statistic_log)
        product.proxy(closed_port())
        # The plug-in unloaded after the call: its log is closed and the
        # database library freed.
        lines, started, ended = product.run(product.installer(STATISTIC_LOG=statistic_log))
        check_equal(["after:[below]", "database library unloaded", "log closed"], lines, "after an unloaded call")
        stored = [(COUNTER_URL, REFERER, started, ended)]
        check_stored(product, stored, "after the first installer")
        check_equal([install_record(install_type=2)], product.install_records(), "install records")

        # Kept loaded to the end of the installer: both held until its end.
        # This installer, of the same name, finds the library in the folder above.
        loaded = f"loaded{h.foreign}"
        exe = product.installer(folder=loaded, STATISTIC_LOG=statistic_log, NOUNLOAD=1)
        lines, started, ended = product.run(exe, result_name=f"{loaded}/result.txt")
        check_equal(["after:[below]", "database library loaded", "log refused with error 32"], lines,
                    "after a call with /NOUNLOAD")
        stored.append((COUNTER_URL, REFERER, started, ended))
        check_stored(product, stored, "after the installer that kept the plug-in")

        # Without the database library: nothing stored, an error logged.
        (h.work / "tarnbase.dll").unlink()
        _, started, ended = product.run(product.installer())
        check_stored(product, stored, "after the installer without the library")
        failed = product.log_records()[2:]
        check_equal(1, len(failed), f"lines after the store without the library: {failed}")
        match = re.fullmatch(rf"\[ERROR\.SaveStatistic\] url:{re.escape(COUNTER_URL)}, "
                             rf"refer_url:{re.escape(REFERER)}, time:(\d+), count:1, err:0x80004005", failed[0])
        check(match is not None and started <= int(match.group(1)) <= ended, f"the failed store's line: {failed[0]}")


def configured_hosts(h):
    """The beacon's host names the shipped plug-in was built with."""
    hosts = {}
    for line in (h.build / "CMakeCache.txt").read_text().splitlines():
        for name in ("TM_COUNTER_HOST", "TM_INSTALL_REPORT_HOST"):
            if line.startswith(name + ":"):
                hosts[name] = line.partition("=")[2]
    return hosts["TM_COUNTER_HOST"], hosts["TM_INSTALL_REPORT_HOST"]


def case_beacon_shipped_hosts(h):
    """The shipped plug-in, through a loopback proxy, so that whatever its
    hosts are nothing leaves this machine. Hosts under ".invalid" (the
    build's defaults) are not even handed to the proxy: the request is
    stored at once."""
    counter, report = configured_hosts(h)
    url, referer = f"http://{counter}/2813985/tongji.gif", f"http://{report}/install/{VERSION}"
    with Product(h) as product, RecordingServer() as proxy:
        product.proxy(proxy.port)
        lines, started, ended = product.run(product.installer(plugin_dir=h.plugin_dir))
        check_equal(["after:[below]"], lines, "stack")
        if counter.endswith(".invalid"):
            check_equal([], heads(proxy), "requests at the proxy")
            check_stored(product, [(url, referer, started, ended)], "by the shipped plug-in")
        else:
            check_equal(1, len(proxy.requests), "requests at the proxy")
            check_equal(f"Referer: {referer}".encode(), b"Referer: " + proxy.requests[0].header("Referer"),
                        "referer")
        check_equal([install_record()], product.install_records(), "install records")


def case_install_report_twice(h):
    """Two reports from one loaded plug-in: two beacons from one beacon
    client, whose browser version was read once, and two install records
    from an identity read once."""
    ie_before = browser_version(h)
    check(ie_before is not None, "the prefix has no Internet Explorer version")
    try:
        with Product(h) as product, RecordingServer() as proxy:
            product.proxy(proxy.port)
            lines, _, _ = product.run(product.installer(NOUNLOAD=1, TWICE="11.0.9600.1"))
        check_equal(["after:[below]"], lines, "stack")
        check_equal([head(h, PROXY_LINE)] * 2, heads(proxy), "requests at the proxy")
        check_equal([install_record()] * 2, product.install_records(), "install records")
        publics = starting(log_lines(product.gleanor_log), "write public#4")
        check_equal(2, len(publics), f"public records: {publics}")
    finally:
        h.wine_reg("add", IE_KEY, "/v", "Version", "/d", ie_before, "/f", "/reg:32")


def case_install_report_eight(h):
    """Eight installers reporting at once with no server: each request is
    one row of an intact cache and one whole line of the shared log. The
    database library lies in the folder above the installers'.

    NSIS makes its plug-ins folder from a temporary name that installers
    started in the same instant race for: under load one of them may quit
    with 2 ("Can't initialize plug-ins directory") before any plug-in code
    runs (seen with a script that does nothing but InitPluginsDir). So these
    installers call the plug-in with CallInstDLL, from a copy beside them."""
    with Product(h) as product:
        product.proxy(closed_port())
        plugin = h.work / "plugin" / "tmnsisplug.dll"
        plugin.parent.mkdir()
        shutil.copyfile(h.loopback_plugin_dir / "tmnsisplug.dll", plugin)
        exe = product.installer(PLUGIN_FILE=h.windows_path(plugin))
        folders = [h.work / f"i{i}" for i in range(8)]
        for folder in folders:
            folder.mkdir()
            shutil.copyfile(exe, folder / "setup.exe")
        started = int(time.time())
        children = [h.start(folder / "setup.exe", "/S") for folder in folders]
        for i, child in enumerate(children):
            check_equal(0, child.wait(timeout=300), f"exit code of installer {i}")
        ended = int(time.time())
        for folder in folders:
            check_equal(["after:[below]"], read_lines(folder / "result.txt"), f"stack in {folder.name}")
        check_stored(product, [(COUNTER_URL, REFERER, started, ended)] * 8, "by eight installers")
        check_equal(8, len(product.log_records()), "lines of the log")


def case_beacon_deadline(h):
    """Proxies that never answer, drip a head that never ends, or drop the
    connection attempt: each holds the installer less than 12 s, and the
    request is stored and logged."""
    with Product(h) as product:
        exe = product.installer(script="report_deadline.nsi")
        stored = []
        for name, proxy in (("silent", RecordingServer(behaviour="silent")),
                            ("drip", RecordingServer(behaviour="drip")), ("dropping", DroppingPort())):
            with proxy:
                check(name != "dropping" or proxy.holds_attempts(3), "the full queue answers an attempt")
                product.proxy(proxy.port)
                lines, started, ended = product.run(exe)
            print(f"{name} proxy: {lines}")
            check(lines[0] == "after:[below]" and int(lines[1][len("held:"):]) < 12000, f"{name} proxy: {lines}")
            check_equal([] if name == "dropping" else [head(h, PROXY_LINE)], heads(proxy),
                        f"requests at the {name} proxy")
            stored.append((COUNTER_URL, REFERER, started, ended))
            check_stored(product, stored, f"after the {name} proxy")
        check_equal([install_record()] * 3, product.install_records(), "install records")


def case_beacon_worker_outlives_call(h):
    """After the call gave up on the exchange, the exchange's worker goes on,
    and the installer calls the plug-in again meanwhile: NSIS finds it
    loaded, calls it without taking a reference and frees it after the
    call. The plug-in stays loaded to the installer's end, and the worker
    ends in it when the proxy lets go."""
    with Product(h) as product:
        exe = product.installer(script="report_deadline.nsi", AFTER_CALL=1)
        with RecordingServer(behaviour="drip") as proxy:  # no time-out of the worker's own ends it
            product.proxy(proxy.port)
            child = h.start(exe, "/S")
            h.wait_for(lambda: (h.work / "called.txt").exists(), 120, "the report to return")
        (h.work / "released.txt").write_text("")
        check_equal(0, child.wait(timeout=120), "exit code of the installer")
        lines = read_lines(h.work / "result.txt")
        check(int(lines[1][len("held:"):]) < 12000, f"the report: {lines}")
        check_equal(["loaded after the worker ended", "architecture:64"], lines[2:], "what the installer saw")
        check_equal(1, len(product.rows()), "rows of feed.cache")


def case_report_other_machine(h):
    """A 64-bit installer beside the product's 32-bit libraries: the
    database library beside it and the info-collection library in the
    install folder each count as missing, the installer goes on, and the
    statistic log names each file once."""
    check_equal("amd64", h.flavour, "the flavour of this case")
    x86_standins = h.build / "standins"
    with Product(h) as product:
        shutil.copyfile(x86_standins / "tarnbase.dll", h.work / "tarnbase.dll")
        shutil.copyfile(x86_standins / "gleanor" / "gleanor.dll", product.root / "ovec" / "gleanor.dll")
        product.proxy(closed_port())
        lines, _, _ = product.run(product.installer())
        check_equal(["after:[below]"], lines, "stack after the report")
        cache = data_folder(h) / "feed.cache"
        check(not cache.exists() or cache.stat().st_size == 0, "feed.cache was written through a 32-bit library")
        check_equal([], log_lines(product.gleanor_log), "what the 32-bit info-collection library received")
        other_machine = "err:0x800700c1"
        tarnbase = h.windows_path(h.work / "tarnbase.dll")
        gleanor = h.windows_path(product.root / "ovec" / "gleanor.dll")
        records = product.log_records()
        # The record's worker runs beside the beacon's: in any order.
        check_equal(sorted([f"[ERROR.LoadLibrary] file:{tarnbase}, {other_machine}",
                            f"[ERROR.SaveStatistic] url:{COUNTER_URL}, refer_url:{REFERER}",
                            f"[ERROR.LoadLibrary] file:{gleanor}, {other_machine}"]),
                    sorted(re.sub(r", time:\d+, count:1, err:0x80004005$", "", record) for record in records),
                    "the statistic log")
