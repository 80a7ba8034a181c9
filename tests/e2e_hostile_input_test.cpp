// What a user can get wrong with names and files: folders where files belong, the
// longest names a word can carry, files that can't be written, HEX files of 10 MiB,
// and a locked chip. Each gives one clear line and status 2, and loses nothing. And
// runs through sudo: everything after the port's open is done as the invoking user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "varnprog_runs.h"
#include "run_program.h"

namespace {

TEST(VarnprogHostileNames, FoldersAndMissingFoldersGivenAsFilesAreRefused) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("adir"));
  dir.write("adir/inside", "kept");
  RunResult r = varnprog_reported(dir, {"-dfadir", "-deadir", "-ldadir", "-ueadir", "-ufadir", "-lfadir", "fadir"});
  EXPECT_EQ(count_of(r.out, "adir: read error - download refused\n"), 3u) << r.out;
  EXPECT_EQ(count_of(r.out, "Can't open output file adir\n"), 2u) << r.out;
  EXPECT_EQ(r.out.find("Write Flash/EEPROM data"), std::string::npos) << "nothing announced";
  EXPECT_EQ(count_of(r.err, "adir: Is a directory\n"), 7u) << r.err;  // each word gives the reason
  EXPECT_NE(r.out.find("Can't create log file adir\n"), std::string::npos);
  EXPECT_NE(r.out.find("Can't read file named: adir\n"), std::string::npos) << "no silent empty command file";
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(report_of(dir, "chip_erases"), "0");
  EXPECT_EQ(report_of(dir, "eeprom_writes"), "0");
  EXPECT_EQ(dir.read("adir/inside"), "kept");
  EXPECT_EQ(files_in(dir).size(), 3u) << "adir, gcal.txt, report.txt: no temporary left";

  // Interactively the folder is refused the same way and the prompt comes back.
  RunOptions interactive;
  interactive.input = "fadir\ni\n";
  interactive.env = {{"LPT1", "sim:timing=fast"}};
  RunResult typed = run_program("varnprog", interactive, dir);
  EXPECT_NE(typed.out.find("-Can't read file named: adir\n\n-Signature bytes:"), std::string::npos) << typed.out;
  EXPECT_EQ(typed.status, 2);

  // So is an upload into a folder that does not exist.
  RunResult missing = varnprog_reported(dir, {"-ueno/such/folder/out.hex"});
  EXPECT_NE(missing.out.find("Can't open output file no/such/folder/out.hex\n"), std::string::npos) << missing.out;
  EXPECT_EQ(missing.status, 2);
}

// A word holds at most 199 characters: a keyword of two letters leaves 197 for the
// name, a command file's f leaves 198. One character more refuses the word whole.
TEST(VarnprogHostileNames, TheLongestNamesAWordCarriesWork) {
  TempDir dir;
  const std::string hex_name = std::string(193, 'h') + ".hex";  // 197
  const std::string up_name = std::string(193, 'u') + ".hex";
  const std::string log_name = std::string(193, 'l') + ".log";
  const std::string commands = std::string(194, 'c') + ".txt";  // 198
  dir.write(hex_name, hex_record(0, "0102030405060708") + ":00000001FF\n");
  dir.write(commands, "i\n");
  RunResult r = varnprog_reported(dir, {"-df" + hex_name, "-ue" + up_name, "-lf" + log_name, "f" + commands});
  EXPECT_NE(r.out.find("\nTarget Flash matches " + hex_name + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Write Flash/EEPROM data to " + up_name + "\n"), std::string::npos);
  EXPECT_EQ(dir.read(up_name), ":00000001FF\n");
  EXPECT_TRUE(dir.exists(log_name));
  EXPECT_NE(r.out.find("Processor: ATmega644\n"), std::string::npos) << "the command file ran";
  EXPECT_EQ(r.status, 0) << r.out;

  const std::string too_long = "x" + hex_name;  // df + 198 = 200 characters
  dir.write(too_long, hex_record(0, "0102") + ":00000001FF\n");
  RunResult refused = varnprog_reported(dir, {"-df" + too_long});
  EXPECT_EQ(after_banner(refused), "Command word longer than 199 characters refused\n");
  EXPECT_EQ(report_of(dir, "chip_erases"), "0");
  EXPECT_EQ(refused.status, 2);
}

// 10 MiB of records, and a device without end: each is refused as soon as it holds
// more than the memory it is meant for could take, before the chip is erased. Records
// rewriting the same 4 KiB stop at the most text a HEX file for that flash needs;
// records running on linearly stop at the first byte beyond the flash, or for ld
// (no part) beyond the load image.
TEST(VarnprogHostileFiles, HugeFilesAreRefusedAsSoonAsTheyOutgrowTheMemory) {
  TempDir dir;
  const size_t ten_mib = size_t{10} << 20;
  std::string again;
  again.reserve(ten_mib + 64);
  for (unsigned pass = 0; again.size() < ten_mib; ++pass)
    for (unsigned a = 0; a < 4096; a += 16) {
      char data[40];
      std::snprintf(data, sizeof data, "%02X%02X0000000000000000000000000000", pass & 0xFF, (a >> 4) & 0xFF);
      again += hex_record(a, data);
    }
  again += ":00000001FF\n";
  dir.write("again.hex", again);

  Bytes onward((ten_mib / 44 + 1) * 16);  // 44 characters a record of 16 bytes
  for (size_t i = 0; i < onward.size(); ++i) onward[i] = static_cast<uint8_t>(i % 16 * 0x11);
  dir.write("onward.hex", hex_text(onward));

  const std::string flash = "the 4096-byte flash of the ATmega48";
  RunResult r = varnprog_reported(dir, {"-dfagain.hex", "-dfonward.hex", "-ldonward.hex", "-df/dev/zero"},
                                  "part=ATmega48");
  EXPECT_FALSE(r.timed_out);
  // 364000 bytes fill 22750 records; five extended-address records come before them.
  EXPECT_EQ(after_banner(r), "again.hex: over 131072 bytes, more than a HEX file for " + flash + " needs - download refused\n"
                             "onward.hex line 257: data up to 0x1010 beyond " + flash + " - download refused\n"
                             "onward.hex line 22756: data up to 0x58df0 beyond the 364000-byte image - download refused\n"
                             "/dev/zero: over 131072 bytes, more than a HEX file for " + flash + " needs - download refused\n");
  EXPECT_EQ(report_of(dir, "chip_erases"), "0");
  EXPECT_EQ(r.status, 2);
}

// Lock mode 3 makes every read answer FF: an upload would write a file of nothing and
// call it the chip's contents.
TEST(VarnprogHostileFiles, ALockedChipIsNotUploaded) {
  TempDir dir;
  dir.write("keep.hex", "an older upload\n");
  RunResult r = varnprog_reported(dir, {"-uekeep.hex", "-ufkeep.hex"}, "fault=locked");
  EXPECT_EQ(after_banner(r), "Target is locked - its memories read as ff, upload refused\n"
                             "Target is locked - its memories read as ff, upload refused\n");
  EXPECT_EQ(dir.read("keep.hex"), "an older upload\n");
  EXPECT_EQ(r.status, 2);

  // A chip erase unlocks it; then the upload goes ahead.
  dir.write("a.hex", hex_record(0, "0102") + ":00000001FF\n");
  RunResult unlocked = varnprog_reported(dir, {"-dfa.hex", "-ufkeep.hex"}, "fault=locked");
  EXPECT_NE(unlocked.out.find("Write Flash/EEPROM data to keep.hex\n"), std::string::npos) << unlocked.out;
  EXPECT_EQ(dir.read("keep.hex"), ":020000000102fb\n:00000001FF\n");
  EXPECT_EQ(unlocked.status, 0);
}

// An upload writes to what its name is. A link keeps pointing at its target, which
// takes the file in its own folder (a dangling one creates it there); a file keeps its
// mode and, where this process may give it, its owner; a FIFO, a device node and the
// program's own standard output are written in place, never replaced.
TEST(VarnprogHostileNames, UploadsWriteToWhatTheNameIs) {
  TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directory(dir.file("sub"));
  dir.write("sub/target.hex", "old\n");
  dir.write("own.hex", "old\n");
  fs::permissions(dir.file("own.hex"), fs::perms::owner_read | fs::perms::owner_write);
  const bool root = geteuid() == 0;
  EXPECT_TRUE(!root || chown(dir.file("own.hex").c_str(), 1234, 1234) == 0);
  fs::create_symlink("sub/target.hex", dir.file("link.hex"));
  fs::create_symlink("sub/new.hex", dir.file("dangling.hex"));
  fs::create_symlink("/dev/stdout", dir.file("stdout.hex"));
  ASSERT_EQ(mkfifo(dir.file("fifo.hex").c_str(), 0600), 0);
  const int fifo = open(dir.file("fifo.hex").c_str(), O_RDONLY | O_NONBLOCK);  // the reader
  // A device node of our own where we may make one (the kernel's null device).
  const bool node = mknod(dir.file("null.hex").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  const std::string upload = ":020000000102fb\n:00000001FF\n";
  dir.write("chip.txt", "varn-sim-state 1\npart ATmega48\neeprom 0 0102\n");
  RunResult r = varnprog_reported(dir, {"-uelink.hex", "-uedangling.hex", "-ueown.hex", "-uefifo.hex", "-uestdout.hex",
                                    node ? "-uenull.hex" : "-i"}, "state=chip.txt");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(fs::is_symlink(dir.file("link.hex")) && fs::is_symlink(dir.file("dangling.hex")));
  EXPECT_EQ(dir.read("sub/target.hex"), upload);
  EXPECT_EQ(dir.read("sub/new.hex"), upload);
  EXPECT_EQ(dir.read("own.hex"), upload);
  struct stat own {};
  ASSERT_EQ(stat(dir.file("own.hex").c_str(), &own), 0);
  EXPECT_EQ(own.st_mode & 0777, 0600u);
  EXPECT_EQ(own.st_uid, root ? 1234u : geteuid());
  char fifo_text[256] = {};
  EXPECT_EQ(read(fifo, fifo_text, sizeof fifo_text - 1), static_cast<ssize_t>(upload.size()));
  close(fifo);
  EXPECT_EQ(fifo_text, upload);
  EXPECT_TRUE(fs::is_fifo(dir.file("fifo.hex")));
  EXPECT_NE(r.out.find("Write Flash/EEPROM data to stdout.hex\n" + upload), std::string::npos) << r.out;
  EXPECT_TRUE(!node || fs::is_character_file(dir.file("null.hex")));
  EXPECT_EQ(files_in(dir).size(), node ? 10u : 9u) << "no temporary left";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("sub")), fs::directory_iterator()), 2);
}

// A file the user may not write is refused as the shell's > refuses it; a file of two
// hard links takes the upload in both. Root runs it as the user nobody, through sudo's
// settings, since root may write any file.
TEST(VarnprogHostileNames, UploadsKeepWriteProtectionAndHardLinks) {
  TempDir dir;
  dir.write("ro.hex", "old\n");
  dir.write("a.hex", "old\n");
  ASSERT_EQ(link(dir.file("a.hex").c_str(), dir.file("b.hex").c_str()), 0);
  dir.write("chip.txt", "varn-sim-state 1\npart ATmega48\neeprom 0 0102\n");
  RunOptions options;
  options.args = {"-uero.hex", "-uea.hex"};
  options.env = {{"LPT1", "sim:timing=fast,state=chip.txt"}};
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const char* name : {"", "ro.hex", "a.hex", "chip.txt"})
      ASSERT_EQ(chown((*name ? dir.file(name) : dir.path()).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    options.env.push_back({"SUDO_UID", std::to_string(nobody->pw_uid)});
    options.env.push_back({"SUDO_GID", std::to_string(nobody->pw_gid)});
  }
  ASSERT_EQ(chmod(dir.file("ro.hex").c_str(), 0444), 0);
  RunResult r = run_program("varnprog", options, dir);
  EXPECT_EQ(dir.read("ro.hex"), "old\n");
  EXPECT_EQ(count_of(r.out, "Can't open output file ro.hex\n"), 1u) << r.out;
  EXPECT_EQ(count_of(r.err, "ro.hex: Permission denied\n"), 1u) << r.err;
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(dir.read("b.hex"), ":020000000102fb\n:00000001FF\n");
  struct stat a {};
  ASSERT_EQ(stat(dir.file("a.hex").c_str(), &a), 0);
  EXPECT_EQ(a.st_nlink, 2u);
  EXPECT_EQ(files_in(dir).size(), 5u) << "no temporary left";  // and chip.txt, gcal.txt
}

struct PavoltRun {
  TempDir dir;
  RunResult run(const std::string& input, std::vector<std::string> args = {}) {
    RunOptions options;
    options.args = std::move(args);
    options.input = input;
    options.env = {{"LPT1", "sim:timing=fast"}};
    return run_program("pavolt", options, dir);
  }
};

TEST(PavoltHostileNames, FoldersForTheConfigurationAndCommandFiles) {
  PavoltRun p;
  std::filesystem::create_directory(p.dir.file("pavoltconfig.txt"));
  std::filesystem::create_directory(p.dir.file("adir"));
  RunResult r = p.run("fadir\np\n");
  EXPECT_NE(r.out.find("\npavoltconfig.txt can't be read - default settings kept\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("file found"), std::string::npos);
  EXPECT_NE(r.out.find("-Can't read file adir - not a command file\n-Default settings:\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  X step pps min/max: 10 3500\n"), std::string::npos);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(std::filesystem::is_directory(p.dir.file("pavoltconfig.txt")));
}

TEST(PavoltHostileNames, ACommandFileNameOf198CharactersRuns) {
  PavoltRun p;
  const std::string name = std::string(194, 'c') + ".txt";
  p.dir.write(name, "p\n");
  RunResult r = p.run("f" + name + "\n");
  EXPECT_NE(r.out.find("-p\nDefault settings:\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 1);

  p.dir.write("x" + name, "p\n");
  RunResult refused = p.run("fx" + name + "\n");
  EXPECT_NE(refused.out.find("refused"), std::string::npos) << refused.out;
  EXPECT_EQ(refused.out.find("Default settings:"), std::string::npos);
  EXPECT_EQ(refused.status, 2);
}

// As root, with sudo's settings for the user nobody: the files a run writes are the
// user's (a simulated board's trace too, though its first change follows the open at
// once); settings that name no user stop the run before anything is done as root;
// sudo run by root itself keeps root. The port's open failure, tried before the drop,
// is still reported with its reason.
struct SudoCase {
  const char* program;
  const char* sudo_uid;  // "user": nobody's id
  const char* lpt1;
  std::vector<std::string> args;
  int status;
  std::vector<std::string> written;  // files the run writes; none written when empty
  bool owned_by_user;
  const char* err;
  const char* root_only = "";  // a file that only root may read
};

TEST(HostileSudoRuns, FilesAreTheInvokingUsersAndADropThatCantHappenStops) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::string uid = std::to_string(nobody->pw_uid), gid = std::to_string(nobody->pw_gid);
  const SudoCase cases[] = {
      {"varnprog", "user", "sim:timing=fast", {"-i", "-ueup.hex", "-lflog.txt"}, 0, {"up.hex", "log.txt"}, true, ""},
      {"pavolt", "user", "sim:trace=t.vcd", {"-p"}, 0, {"gcal.txt", "t.vcd"}, true, ""},  // gcal.txt measured
      {"varnprog", "0", "sim:timing=fast", {"-ueup.hex"}, 0, {"up.hex"}, false, ""},
      {"varnprog", "abc", "sim:timing=fast", {"-ueup.hex"}, 2, {}, false, "(SUDO_UID 'abc' is not a user id)"},
      {"pavolt", "4294967295", "sim", {"-p"}, 2, {}, false, "(SUDO_UID '4294967295' is not a user id)"},
      {"varnprog", "user", "/dev/varn-no-port", {"-i"}, 2, {}, false, "/dev/varn-no-port: no such device"},
      {"pavolt", "user", "sim", {"-p"}, 2, {"gcal.txt"}, true, "pavoltconfig.txt: Permission denied - default",
       "pavoltconfig.txt"},
  };
  for (const SudoCase& c : cases) {
    TempDir dir;
    ASSERT_EQ(chown(dir.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    RunOptions options;
    options.args = c.args;
    options.env = {{"LPT1", c.lpt1}, {"SUDO_UID", c.sudo_uid == std::string("user") ? uid : c.sudo_uid},
                   {"SUDO_GID", gid}};
    if (c.program == std::string("pavolt")) options.gcal.reset();
    if (*c.root_only) {
      dir.write(c.root_only, "x_resolution 0.001\n");
      ASSERT_EQ(chmod(dir.file(c.root_only).c_str(), 0600), 0);
    }
    RunResult r = run_program(c.program, options, dir);
    SCOPED_TRACE(std::string(c.program) + " SUDO_UID=" + c.sudo_uid + " LPT1=" + c.lpt1 + "\n" + r.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos);
    for (const std::string& name : c.written) {
      struct stat st {};
      ASSERT_EQ(stat(dir.file(name).c_str(), &st), 0) << name;
      EXPECT_EQ(st.st_uid, c.owned_by_user ? nobody->pw_uid : 0u) << name;
      EXPECT_EQ(st.st_gid, c.owned_by_user ? nobody->pw_gid : 0u) << name;
    }
    if (c.written.empty()) {
      EXPECT_EQ(files_in(dir).size(), options.gcal ? 1u : 0u) << "nothing written";
    }
  }
}

}  // namespace
