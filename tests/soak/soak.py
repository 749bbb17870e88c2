#!/usr/bin/python3
"""A gateway's days, simulated: logs grow in steps and scheduled runs follow.

Generated mail and proxy logs are written into a live folder in steps that
often stop inside a line (anywhere, before CR LF, between CR and LF); some
days' last lines are flushed within the first minute after midnight. After
each step --stat=ALL, the same with --diff, the database feed and varno-report
run under a preloaded clock shim that shows them the simulated time; now and
then one is killed with SIGKILL or two metadata runs start together. At the
end the results are compared with batch runs over the complete logs, and a
further round must change nothing. Differences that the design allows are
printed as notes. The feed uses the MariaDB server of VARNO_TEST_DB_*.

    tests/soak/soak.py [--build build] [--days 7] [--seeds 1,2,3]
"""

import argparse, collections, datetime, os, random, re, shutil, signal, subprocess, sys, tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DAY = 86400
LATE_PART = DAY - 600     # a day's last lines, on some days flushed after midnight
CUT_SHARE, KILL_SHARE, TWO_SHARE = 0.3, 0.12, 0.08
FINAL, RBL_SEEN = 0x230, 0x01000000   # reject/stop/fin (no longer pending); has its RBL line
COLUMNS = "msgid,nodeid,msgtime,flags,f_smtp,f_rbl,split,endmarks,client,sender,recipients,domains"
SMTP_COLUMNS = (0, 1, 2, 4, 8, 9, 10, 11)   # what the SMTP line alone gives
FEED_FILES = ("dbf.stat", "dbf-pendin.stat", "dbf-pendout.stat")
# State key -> logs read (the compact log first) and metadata file, per type.
STAT_TYPES = {
    "last_smtp_in": (["smtp"], "_smtp"), "last_smtp_out": (["smtp-out"], "_smtp-out"),
    "last_smtp_chart": (["smtp"], "_smtpstat/_smtp"), "last_rbl_in": (["rbl"], "_rbl"),
    "last_rbl_out": (["rbl-out"], "_rbl-out"), "last_rbl_chart": (["rbl"], "_smtpstat/_rbl"),
    "last_post_in": (["postponer"], "_postponer"), "last_post_out": (["postponer-out"], "_postponer-out"),
    "last_http_al": (["kelb-al", "kelb"], "_kelb_cs/_kelb-al"),
    "last_http_tr": (["kelb-tr", "kelb"], "_kelb_cs/_kelb-tr"),
    "last_http_wf": (["kelb-wf", "kelb"], "_kelb_cs/_kelb-wf"), "last_bip": (["rbl"], "_bip"),
}


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def epoch(day):
    return int(datetime.datetime(day.year, day.month, day.day, tzinfo=datetime.timezone.utc).timestamp())


def time_of_line(line):
    fields = line.split(b";", 2)
    m = re.match(rb"\s*(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?", fields[1]) if len(fields) > 1 else None
    return int(m[1]) * 3600 + int(m[2]) * 60 + int(m[3] or 0) if m else None


class LiveLog:
    """One complete log and how much of it the simulated service has written."""

    def __init__(self, name, data, day_start, rng, late):
        self.name, self.data, self.rng, self.written = name, data, rng, 0
        lines, offset, self.ends = data.splitlines(keepends=True), 0, []
        for line in lines:
            offset += len(line)
            self.ends.append(offset)
        # Lines are written in file order: a line is due when no later line
        # has an earlier time, so a stray time neither holds the log back nor
        # runs ahead of it.
        self.due, due = [], DAY - 1
        for line in reversed(lines):
            t = time_of_line(line)
            due = min(due, DAY - 1 if t is None else t)
            when = day_start + due
            if late and due >= LATE_PART:
                when = day_start + DAY + (due - LATE_PART) * 55 // (DAY - LATE_PART)
            self.due.append(when)
        self.due.reverse()

    def advance(self, now, cut_share, folder):
        """Writes the lines due by now; maybe a part of the one being written."""
        done = [e for e, d in zip(self.ends, self.due) if d <= now]
        target = max(self.written, done[-1] if done else 0)
        following = next((i for i, e in enumerate(self.ends) if e > target), None)
        if following is not None and self.due[following] <= now + 30 and self.rng.random() < cut_share:
            start = self.ends[following - 1] if following else 0
            line = self.data[start:self.ends[following]]
            cuts = [self.rng.randint(1, max(1, len(line) - 1)), len(line) - 1]   # anywhere, before LF
            if line.endswith(b"\r\n"):
                cuts.append(len(line) - 2)                                        # before CR LF
            target = max(target, start + self.rng.choice(cuts))
        self.write_to(target, folder)

    def write_to(self, target, folder):
        if target > self.written:
            with open(os.path.join(folder, self.name), "ab") as f:
                f.write(self.data[self.written:target])
            self.written = target


class Runs:
    """The scheduled runs of one seed, under the clock shim."""

    def __init__(self, build, work, failures):
        self.build, self.work, self.failures = build, work, failures
        self.live = os.path.join(work, "live")
        self.took = collections.defaultdict(lambda: 0.2)
        self.log = open(os.path.join(work, "runs.log"), "w")

    def command(self, kind, target):
        varno = os.path.join(self.work, "inst", "bin", "varno")
        return {"stat": [varno, "--stat=ALL", "--srcdir=" + self.live, "--outdir=" + target],
                "diff": [varno, "--stat=ALL", "--diff", "--top=1000000", "--srcdir=" + self.live,
                         "--outdir=" + target],
                "whole": [varno, "--stat=ALL", "--top=1000000", "--srcdir=" + self.live, "--outdir=" + target],
                "feed": [varno, "--dbfeed=" + target, self.live],
                "report": [os.path.join(self.build, "bin", "varno-report"), target]}[kind]

    def start(self, kind, target, now):
        env = dict(os.environ, TZ="UTC", LC_ALL="C", SOAK_CLOCK="%d" % now,
                   LD_PRELOAD=os.path.join(self.build, "bin", "libsoak_clock.so"))
        proc = subprocess.Popen(self.command(kind, target), env=env, cwd=self.work,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        proc.kind, proc.began = kind, time.monotonic()
        return proc

    def finish(self, proc, stamp, killed=False, two=False):
        err = proc.communicate()[1]
        code, took = proc.returncode, time.monotonic() - proc.began
        if not killed:
            self.took[proc.kind] = took
        self.log.write("%s %s exit %s %.2fs%s\n%s" % (stamp, proc.kind, code, took, " (killed)" * killed,
                                                      err.decode("latin1")))
        if code < 0 and not (killed and code == -signal.SIGKILL):
            self.failures.append("%s: %s ended by signal %d" % (stamp, proc.kind, -code))
        elif code > 0 and not (two and b"Another instance already running." in err):
            self.failures.append("%s: %s exit %d: %s" % (stamp, proc.kind, code, err.decode("latin1")[:300]))

    def run(self, kind, target, now, stamp, fault=None, rng=None):
        if fault == "two":
            procs = [self.start(kind, target, now), self.start(kind, target, now)]
            for proc in procs:
                self.finish(proc, stamp, two=True)
            return
        proc = self.start(kind, target, now)
        if fault == "kill":
            try:
                proc.wait(timeout=rng.uniform(0, self.took[kind] * 1.2))
            except subprocess.TimeoutExpired:
                proc.send_signal(signal.SIGKILL)
        self.finish(proc, stamp, killed=fault == "kill")


def sql(db, statement, database=""):
    done = subprocess.run(["mariadb", "--no-defaults", "--batch", "--skip-column-names", "--protocol=TCP",
                           "-h", db["HOST"], "-P", db["PORT"], "-u", db["USER"], "--password=" + db["PASSWORD"],
                           database], input=statement.encode(), capture_output=True, check=True)
    return done.stdout.decode("latin1")


def rows(db, database, prefix, direction):
    return collections.Counter(sql(db, "SELECT %s FROM `%s_%s`;" % (COLUMNS, prefix, direction),
                                   database).splitlines())


def tree(folder):
    """Relative path -> bytes of every file below folder."""
    return {os.path.relpath(os.path.join(base, n), folder): read(os.path.join(base, n))
            for base, _, names in os.walk(folder) for n in names}


def masked_page(folder):
    """The report page with its nonce, time and folder name masked."""
    data = read(os.path.join(folder, "report.html")).replace(folder.encode(), b"OUTDIR")
    return re.sub(rb"nonce-[^']*'|nonce=\"[^\"]*\"|generated [^<]*", b"*", data)


def compare_metadata(soak, batch, failures):
    a, b = tree(soak), tree(batch)
    a["report.html"], b["report.html"] = masked_page(soak), masked_page(batch)
    # The state file's keys stand in the order in which the types first ran.
    a["_varno.stat"], b["_varno.stat"] = (sorted(x["_varno.stat"].splitlines()) for x in (a, b))
    for name in sorted((set(a) | set(b)) - {"_varno.last"}):
        if a.get(name) != b.get(name):
            failures.append("metadata: %s differs from the batch run's" % name)


# Total lines have no key; of SIP and VIP, which leave out the keys without a
# marked line, only the marked count adds up.
TOTAL_TAGS, FIRST_VALUE_TAGS = {b"S", b"SRC", b"DC", b"DCA", b"DC?", b"DCR"}, {b"SIP", b"VIP"}


def add_values(a, b):
    if len(a) != len(b):
        return [b"<shape>"]
    return [b"%d" % (int(x) + int(y)) if re.match(rb"-?\d+$", x) and re.match(rb"-?\d+$", y) else max(x, y)
            for x, y in zip(a, b)]


def add_file(sums, data):
    """Adds a metadata file's lines to sums: key (label and, but for totals,
    the first field, without case: a key is written as its first line had
    it) -> values."""
    for line in data.splitlines():
        fields = line.split(b";")
        keep = 1 if fields[0] in TOTAL_TAGS else 2
        key, values = tuple(f.lower() for f in fields[:keep]), fields[keep:]
        values = values[:1] if fields[0] in FIRST_VALUE_TAGS else values
        sums[key] = add_values(sums[key], values) if key in sums else values


def stat_state(folder):
    """State key -> (day yyyymmdd, lines, time in seconds) of _varno.stat."""
    found = re.findall(rb"(\w+) = (\d+)-(\d+)-(\d+),\d*,(\d*),(\d+):(\d+):(\d+)",
                       read(os.path.join(folder, "_varno.stat")) or b"")
    return {k.decode(): ((y + m + d).decode(), int(n or 0), int(hh) * 3600 + int(mm) * 60 + int(ss))
            for k, y, m, d, n, hh, mm, ss in found}


class DeltaSums:
    """The files of the --diff runs added up, and the lines that the resume
    rule treats apart by design: a resumed run leaves out the new lines dated
    before the stored time, and takes a line already read that is dated after
    it as a sign that the log changed (counting the lines after it again)."""

    def __init__(self):
        self.files = collections.defaultdict(dict)
        self.resumes = collections.defaultdict(collections.Counter)

    def add_run(self, before, after, folder, live):
        for key, (logs, output) in STAT_TYPES.items():
            if key in before and key in after and before[key][0] == after[key][0]:
                day, first, since = before[key]
                lines = b"".join(read(os.path.join(live, p + day + ".log")) or b"" for p in logs).split(b"\n")
                times = [time_of_line(line) for line in lines[:after[key][1]]]
                counts = self.resumes[output + day + ".csv"]
                counts["new lines dated before the stored time"] += sum(
                    t is not None and t < since for t in times[first:])
                counts["lines read before and dated after it"] += sum(
                    t is not None and t > since for t in times[:first])
        for name, data in tree(folder).items():
            if name.endswith(".csv"):
                add_file(self.files[name], data)
                os.remove(os.path.join(folder, name))

    def compare(self, batch, failures, notes, skip):
        expected = collections.defaultdict(dict)
        for name, data in tree(batch).items():
            if name.endswith(".csv"):
                add_file(expected[name], data)
        for name in sorted(set(expected) | set(self.files)):
            mine, theirs = self.files.get(name, {}), expected.get(name, {})
            bad = [k for k in set(mine) | set(theirs) if mine.get(k) != theirs.get(k)
                   and not all(v == b"0" for v in mine.get(k, []) + theirs.get(k, []))]
            why = ", ".join("%d %s" % (n, w) for w, n in self.resumes[name].items() if n)
            if bad and skip(name):
                continue
            if bad and why:
                notes.append("diff: %s: %d lines differ by the --diff resume rule: %s" % (name, len(bad), why))
            elif bad:
                k = sorted(bad)[0]
                failures.append("diff: %s: %d lines differ, e.g. %s: deltas add up to %s, batch %s" % (
                    name, len(bad), b";".join(k).decode("latin1"), b";".join(mine.get(k, [b"-"])).decode(
                        "latin1"), b";".join(theirs.get(k, [b"-"])).decode("latin1")))


def compare_feed(db, database, live, failures, notes):
    for direction in ("inbound", "outbound"):
        soak, batch = rows(db, database, "soak", direction), rows(db, database, "batch", direction)
        by_key = collections.defaultdict(lambda: ([], []))
        for side, found in ((0, soak - batch), (1, batch - soak)):
            for row in found.elements():
                f = row.split("\t")
                by_key[(f[0], f[2])][side].append(f)
        for key, (mine, theirs) in sorted(by_key.items()):
            # A message that left the pending list (finished, rejected,
            # stopped) gets no later RBL or postponer line; a batch run may
            # see more of them.
            m, t = (mine[0], theirs[0]) if len(mine) == len(theirs) == 1 else (None, None)
            if m and int(m[3]) & FINAL and [m[i] for i in SMTP_COLUMNS] == [t[i] for i in SMTP_COLUMNS] \
                    and (m[5] == t[5] or not int(m[3]) & RBL_SEEN) and int(t[6]) >= int(m[6]) \
                    and int(t[7]) >= int(m[7]):
                changed = ", ".join("%s %s (batch %s)" % (c, x, y)
                                    for c, x, y in zip(COLUMNS.split(","), m, t) if x != y)
                notes.append("feed %s: %s %s left the pending list before its last lines came: %s" % (
                    direction, key[0], key[1], changed))
            else:
                failures.append("feed %s: rows of %s %s: soak %s, batch %s" % (direction, *key, mine, theirs))
    for name in FEED_FILES:
        a = set((read(os.path.join(live, "soak-" + name)) or b"").splitlines())
        b = set((read(os.path.join(live, "batch-" + name)) or b"").splitlines())
        for line in a ^ b:
            if not any(line.split(b";")[0].decode("latin1").upper() in n.upper() for n in notes):
                failures.append("feed: %s of the %s only: %s" % (name, "soak" if line in a else "batch",
                                                                line.decode("latin1")))


def run_seed(args, seed, db):
    rng = random.Random(seed)
    work = os.path.join(args.work, "seed-%d" % seed)
    shutil.rmtree(work, ignore_errors=True)
    full, live, out, diff, batch, whole, inst = (os.path.join(work, n) for n in (
        "full", "live", "out", "diff", "batch", "whole", "inst"))
    for folder in (full, live, out, diff, batch, whole, os.path.join(inst, "bin"), os.path.join(inst, "conf")):
        os.makedirs(folder)
    first = datetime.date(2024, 1, 1) + datetime.timedelta(days=7 * seed)
    layout = ["combined", "compact", "both"][seed % 3]
    common = ["--out", full, "--days", str(args.days), "--start", first.strftime("%Y%m%d"), "--seed", str(seed),
              "--quiet"]
    subprocess.run([os.path.join(args.build, "bin", "genlogs"), "--lines-per-day", "800"] + common, check=True)
    subprocess.run([os.path.join(args.build, "bin", "genproxy"), "--lines-per-day", "2000", "--layout", layout]
                   + common, check=True)
    shutil.copy2(os.path.join(args.build, "bin", "varno"), os.path.join(inst, "bin"))
    database = "varno_soak_%d_%d" % (os.getpid(), seed)
    table = ("CREATE TABLE `%s_inbound` (`id` BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY, `msgid` CHAR(40)"
             " NOT NULL, `nodeid` VARCHAR(64) NOT NULL, `msgtime` DATETIME NOT NULL, `flags` INT UNSIGNED NOT NULL,"
             " `f_smtp` INT UNSIGNED NOT NULL, `f_rbl` INT UNSIGNED NOT NULL, `split` INT UNSIGNED NOT NULL,"
             " `endmarks` INT UNSIGNED NOT NULL, `client` VARCHAR(255) NOT NULL, `sender` TEXT NOT NULL,"
             " `recipients` MEDIUMTEXT NOT NULL, `domains` MEDIUMTEXT NOT NULL, UNIQUE KEY `message` (`msgid`,"
             " `nodeid`, `msgtime`)) ENGINE=InnoDB DEFAULT CHARSET=latin1 COLLATE=latin1_bin;"
             " CREATE TABLE `%s_outbound` LIKE `%s_inbound`;")
    sql(db, "DROP DATABASE IF EXISTS %s; CREATE DATABASE %s;" % (database, database))
    sql(db, table % (("soak",) * 3) + table % (("batch",) * 3), database)
    for name in ("soak", "batch"):
        with open(os.path.join(inst, "conf", name + "-dbf.conf"), "w") as f:
            f.write("host = %s\nport = %s\nuser = %s\npasswd = %s\ndb = %s\nnodeid = gw1\ntable_prefix = %s\n"
                    "burst = %d\n" % (db["HOST"], db["PORT"], db["USER"], db["PASSWORD"], database, name,
                                      rng.choice([7, 50, 1000])))
    days = [first + datetime.timedelta(days=d) for d in range(args.days)]
    late = {day for day in days if rng.random() < 0.6}
    logs = []
    for name in sorted(os.listdir(full)):
        data = read(os.path.join(full, name))
        if rng.random() < 0.5:   # the gateway runs on Windows: some services write CR LF
            data = re.sub(rb"(?<!\r)\n", b"\r\n", data)
        day = datetime.datetime.strptime(name[-12:-4], "%Y%m%d").date()
        logs.append(LiveLog(name, data, epoch(day), random.Random(rng.random()), day in late))
    times = []
    for day in days:   # steps: in and just after the first minute, through the day, in the last minute
        s = epoch(day)
        times += [s + rng.randint(2, 29), s + rng.randint(30, 58), s + rng.randint(61, 400)] if day > first else []
        times += [s + rng.randint(400, DAY - 1) for _ in range(args.steps_per_day)]
        times += [s + DAY - rng.randint(1, 50)] if rng.random() < 0.5 else []
    failures, notes, faults = [], [], collections.Counter()
    runs, sums = Runs(args.build, work, failures), DeltaSums()

    def round_at(now, stamp, fault=None, victim=None):
        for kind, target in (("stat", out), ("feed", "soak"), ("report", out)):
            how = fault if (fault == "kill" and kind == victim) or (fault == "two" and kind == "stat") else None
            if how:
                faults["two stat runs" if how == "two" else "killed " + kind] += 1
            runs.run(kind, target, now, stamp, how, rng)
        before = stat_state(diff)
        runs.run("diff", diff, now, stamp)
        sums.add_run(before, stat_state(diff), diff, live)

    for now in sorted(set(times)):
        # More cuts in a day's first minute, while the old day's last lines may still come.
        for log in logs:
            log.advance(now, 0.8 if now % DAY < 60 else CUT_SHARE, live)
        stamp = datetime.datetime.fromtimestamp(now, datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S")
        x = rng.random()
        fault = "kill" if x < KILL_SHARE else "two" if x < KILL_SHARE + TWO_SHARE else None
        round_at(now, stamp, fault, rng.choice(["stat", "feed", "report"]))

    # The logs complete and every day over: one more round, then the batch runs.
    end = epoch(days[-1]) + 2 * DAY + 600
    for log in logs:
        log.write_to(len(log.data), live)
    round_at(end, "end")
    with open(os.path.join(live, "batch-dbf.stat"), "w") as f:
        f.write("last-in = {0},0\nlast-out = {0},0\n".format(first.strftime("%Y/%m/%d")))
    for kind, target in (("stat", batch), ("report", batch), ("feed", "batch"), ("whole", whole)):
        runs.run(kind, target, end, "batch")
    compare_metadata(out, batch, failures)
    known = []
    if layout == "both" and not args.diff_both:
        known.append("--diff over combined and compact proxy logs growing together not compared")
    skip = lambda name: bool(known) and name.startswith("_kelb_cs")
    sums.compare(whole, failures, notes, skip)
    compare_feed(db, database, live, failures, notes)
    left = [os.path.relpath(os.path.join(base, n), work) for folder in (live, out, diff, batch)
            for base, _, names in os.walk(folder) for n in names if re.search(r"\.(lock|lck)$|\.tmp", n)]
    if left:
        failures.append("left behind: " + ", ".join(left))

    def results():   # one further round changes nothing
        files = tree(out)
        files["report.html"] = masked_page(out)
        feed = [read(os.path.join(live, "soak-" + n)) for n in FEED_FILES]
        deltas = {n: dict(v) for n, v in sums.files.items() if not skip(n)}
        return files, feed, deltas, [rows(db, database, "soak", d) for d in ("inbound", "outbound")]
    before = results()
    round_at(end + 300, "again")
    if results() != before:
        failures.append("a further round changed results")
    sql(db, "DROP DATABASE %s;" % database)
    runs.log.close()
    print("seed %d: %d days, %d steps, proxy %s, %d late midnights, faults %s: %s" % (
        seed, args.days, len(set(times)), layout, len(late), dict(faults) or "none", "FAIL" if failures else "pass"))
    for line in ["  note: " + n for n in notes] + ["  known: " + k for k in known] + ["  FAIL " + f for f in failures]:
        print(line[:400])
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return not failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--days", type=int, default=2)
    parser.add_argument("--seeds", default="1")
    parser.add_argument("--steps-per-day", type=int, default=24)
    parser.add_argument("--diff-both", action="store_true",
                        help="compare --diff on days whose combined and compact proxy logs grow together")
    parser.add_argument("--work", default=tempfile.mkdtemp(prefix="varno-soak."),
                        help="folder of the runs (kept for failing seeds)")
    args = parser.parse_args()
    args.build, args.work = os.path.abspath(args.build), os.path.abspath(args.work)
    db = {k: os.environ.get("VARNO_TEST_DB_" + k, "") for k in ("HOST", "PORT", "USER", "PASSWORD")}
    if not db["PORT"]:
        sys.exit("soak: set VARNO_TEST_DB_HOST, _PORT, _USER, _PASSWORD (see tools/mariadb_private.sh)")
    db["HOST"] = db["HOST"] or "127.0.0.1"
    began = time.monotonic()
    passed = [run_seed(args, int(seed), db) for seed in args.seeds.split(",")]
    print("soak: %d of %d seeds passed in %.0f s (work folder %s)" % (
        sum(passed), len(passed), time.monotonic() - began, args.work))
    if all(passed):
        shutil.rmtree(args.work, ignore_errors=True)
    return 0 if all(passed) else 1


if __name__ == "__main__":
    sys.exit(main())
