// vellumor-engine: one process, one office instance, one document at a time, driven by its
// client over a TCP connection to 127.0.0.1.
//
//   vellumor-engine PORT        (the token comes in VELLUMOR_ENGINE_TOKEN)
//
// The office runs in its main-loop mode: this program's main thread becomes the office's main
// thread, and every Load and Save runs on it from inside the poll callback. Some real documents
// (embedded objects, comments, text boxes) only load that way. A watchdog thread ends the
// process when a command overruns its deadline or the client goes away, because under Wine the
// client has no handle to kill us with.
#define LOK_USE_UNSTABLE_API
#include <LibreOfficeKit/LibreOfficeKit.hxx>

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/engine_codes.h"
#include "core/engine_protocol.h"
#include "core/input_check.h"
#include "core/word_pages.h"
#include "engine/worker/file_url.h"
#include "engine/worker/office_document.h"
#include "engine/worker/office_settings.h"
#include "engine/worker/pdf_pages.h"

namespace {

namespace proto = vellumor::protocol;
using vellumor::engine::AbsolutePath;
using vellumor::engine::FileUrlFromPath;

constexpr int kExitClientGone = static_cast<int>(vellumor::WorkerExit::ClientGone);
constexpr int kExitDeadline = static_cast<int>(vellumor::WorkerExit::Deadline);
constexpr int kExitProtocol = static_cast<int>(vellumor::WorkerExit::Protocol);
constexpr int kExitStartFailed = static_cast<int>(vellumor::WorkerExit::StartFailed);
constexpr int kExitUsage = static_cast<int>(vellumor::WorkerExit::Usage);
constexpr int kExitMemoryCeiling = static_cast<int>(vellumor::WorkerExit::MemoryCeiling);

// The office's program folder, given by the build (the one place it is named).
const char* kInstallPath = VELLUMOR_OFFICE_PROGRAM;

int g_socket = -1;
std::string g_isolationProblem;  // why the worker runs without its own network, if it does
int g_wakePipe[2] = {-1, -1};
std::atomic<long long> g_deadline{0};           // steady-clock milliseconds; 0 while idle
std::atomic<std::uint64_t> g_memoryCeiling{0};  // bytes, during a command; 0: none

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// VELLUMOR_ENGINE_TIMES=FILE: the worker appends one line per command (and one for its start)
// saying where the time went, in milliseconds per step, for bench/time_split. Opened before
// the office starts; a worker without it measures nothing.
class StepTimes {
  public:
    void Open(const char* path) {
        if (path && *path) fd_ = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    bool On() const { return fd_ >= 0; }
    void Begin(const char* command) {
        if (!On()) return;
        line_ = std::string("{\"command\":\"") + command + "\"";
        last_ = std::chrono::steady_clock::now();
    }
    // The time since the last step (or Begin) is this step's.
    void Step(const char* name) {
        if (!On()) return;
        const auto now = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(now - last_).count();
        last_ = now;
        char number[32];
        std::snprintf(number, sizeof number, "%.2f", ms);
        line_ += std::string(",\"") + name + "\":" + number;
    }
    void Note(const char* name, int number) {
        if (On()) line_ += std::string(",\"") + name + "\":" + std::to_string(number);
    }
    void End() {
        if (!On()) return;
        line_ += "}\n";
        [[maybe_unused]] auto n = write(fd_, line_.data(), line_.size());
    }

  private:
    int fd_ = -1;
    std::string line_;
    std::chrono::steady_clock::time_point last_;
};
StepTimes g_times;

bool SendAll(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(g_socket, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Send(const proto::Message& m) {
    if (!SendAll(proto::EncodeFrame(m))) _exit(kExitClientGone);
}

std::uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// The same, read without allocating: the watchdog calls it every 100 ms.
std::uint64_t ResidentBytesNow() {
    int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[128];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    unsigned long long size = 0, resident = 0;
    if (std::sscanf(text, "%llu %llu", &size, &resident) != 2) return 0;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// The partial folder of the save in progress, for the watchdog to remove when it ends the
// process mid-save. A fixed buffer: the watchdog must not race an allocation.
char g_partialFolder[4096];
std::atomic<bool> g_partialInUse{false};

void SetPartialFolder(const std::string& folder) {
    if (folder.size() >= sizeof g_partialFolder) return;
    std::memcpy(g_partialFolder, folder.c_str(), folder.size() + 1);
    g_partialInUse = true;
}

// Removes the partial folder and what the office left in it (files only: it makes no folders).
void RemovePartialFolder() {
    if (!g_partialInUse.exchange(false)) return;
    if (DIR* dir = opendir(g_partialFolder)) {
        while (dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
        closedir(dir);
    }
    rmdir(g_partialFolder);
}

// Empties the office's temporary folder on the way out: the worker leaves with _exit, so the
// office never removes its own files. What is still being written is swept at the next start.
std::string g_officeTemp;
// Where the office unpacks the fonts a document carries (its profile's temporary folder, in this
// worker's slot): swept with the temporary folder.
std::string g_documentFonts;
// The watchdog and the command loop may both be on their way out at once (Quit, then the socket
// closes): the one that finishes first ends the process, so the other waits here.
void EmptyOfficeTemp() {
    static std::mutex emptying;
    std::lock_guard<std::mutex> lock(emptying);
    if (g_officeTemp.empty()) return;
    std::error_code error;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(g_officeTemp, error), end; !error && it != end;
         it.increment(error))
        entries.push_back(it->path());
    for (const auto& entry : entries) std::filesystem::remove_all(entry, error);
    if (!g_documentFonts.empty()) std::filesystem::remove_all(g_documentFonts, error);
}

// Ends the process when the command in progress overruns or the client's socket closes,
// removing a partial PDF first.
void Watchdog() {
    for (;;) {
        pollfd p{g_socket, POLLRDHUP, 0};
        int r = poll(&p, 1, 100);
        if (r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) {
            RemovePartialFolder();
            EmptyOfficeTemp();
            _exit(kExitClientGone);
        }
        long long deadline = g_deadline.load();
        if (deadline != 0 && NowMs() > deadline) {
            RemovePartialFolder();
            EmptyOfficeTemp();
            _exit(kExitDeadline);
        }
        std::uint64_t ceiling = g_memoryCeiling.load();
        if (ceiling != 0 && ResidentBytesNow() > ceiling) {
            RemovePartialFolder();
            EmptyOfficeTemp();
            _exit(kExitMemoryCeiling);
        }
    }
}

void RedirectStandardStreams() {
    int null = open("/dev/null", O_RDWR);
    if (null < 0) return;
    dup2(null, 0);
    dup2(null, 1);
    const char* log = getenv("VELLUMOR_ENGINE_LOG");
    int err = log && *log ? open(log, O_WRONLY | O_CREAT | O_APPEND, 0600) : -1;
    dup2(err >= 0 ? err : null, 2);
    if (err > 2) close(err);
    if (null > 2) close(null);
}

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty()) return true;
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    auto slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash)))
        return false;
    return mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

// A private office profile per worker slot, kept between runs so later starts are quick. The
// slot is held with a lock for the life of the process: two workers never share a profile.
std::string ProfileFolder() {
    std::string base;
    if (const char* cache = getenv("XDG_CACHE_HOME"); cache && *cache)
        base = cache;
    else if (const char* home = getenv("HOME"); home && *home)
        base = std::string(home) + "/.cache";
    else
        base = "/tmp";
    base += "/vellumor";
    MakeFolders(base);
    for (int slot = 0; slot < 64; ++slot) {
        std::string folder = base + "/engine-profile-" + std::to_string(slot);
        MakeFolders(folder);
        int fd = open((folder + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return folder;  // fd stays open: the lock is ours
        close(fd);
    }
    char temp[] = "/tmp/vellumor-engine-XXXXXX";
    return mkdtemp(temp) ? temp : std::string();
}

// The office settings file ships beside this program (the one the symbolic links lead to).
std::string SettingsFileBesideProgram() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = n > 0 ? FolderOf(std::string(self, static_cast<std::size_t>(n))) : ".";
    return folder + "/" + vellumor::engine::kOfficeSettingsFileName;
}

// Tells the client why the office cannot be started, and ends the worker with that exit code.
int StartFailed(const std::string& why) {
    proto::Message ready;
    ready.type = proto::MessageType::Ready;
    ready.status = proto::Status::StartFailed;
    ready.text = why;
    Send(ready);
    return kExitStartFailed;
}

// The profile's settings file is written whenever it holds anything else: a profile from an older
// version, or one the office (or a link switch at run time) changed, starts with these again.
// Empty when the profile holds them, else why not, naming the file: an office started on a
// profile without them would run on its own defaults (macros, links).
std::string PrepareProfile(const std::string& folder,
                           const std::vector<vellumor::engine::OfficeSetting>& settings) {
    std::string user = folder + "/user";
    std::string xcu = user + "/registrymodifications.xcu";
    if (!MakeFolders(user))
        return "the office profile folder " + user + " could not be made (" + strerror(errno) + ")";
    const std::string wanted = vellumor::engine::ProfileSettingsText(settings);
    try {  // the stream throws when the name is not a file it can read
        std::ifstream in(xcu, std::ios::binary);
        std::string held((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (held == wanted) return {};
    } catch (const std::exception&) {
    }
    std::ofstream out(xcu, std::ios::binary | std::ios::trunc);
    out << wanted;
    out.close();
    if (!out) return "the office settings could not be written to " + xcu;
    return {};
}

// The office's temporary files hold parts of the documents it converts (unpacked XML, pictures).
// They go to a folder of this worker's slot instead of the shared temporary folder, and the folder
// is emptied at every start: what a worker killed at its deadline leaves is removed by the next
// start of its slot. So are the fonts the office unpacked from documents. Empty when the folder
// is ready, else why not, naming the folder.
std::string PrepareOfficeTemp(const std::string& profile, std::string& temp,
                              std::string& documentFonts) {
    temp = profile + "/office-temp";
    documentFonts = profile + "/user/temp/embeddedfonts";
    std::error_code error;
    std::filesystem::remove_all(temp, error);
    if (error)
        return "the office's temporary folder " + temp + " could not be emptied (" +
               error.message() + ")";
    std::filesystem::remove_all(documentFonts, error);
    if (error)
        return "the folder of fonts from documents " + documentFonts + " could not be emptied (" +
               error.message() + ")";
    if (mkdir(temp.c_str(), 0700) != 0)
        return "the office's temporary folder " + temp + " could not be made (" + strerror(errno) +
               ")";
    setenv("TMPDIR", temp.c_str(), 1);
    return {};
}

// Moves this process, and the office it runs, into a network namespace of its own, with no
// interface but a loopback that is down: nothing a document names can be reached, while the
// connection to the client, made before, keeps working. Must run before any thread starts.
// Empty when done, else why not.
std::string IsolateNetwork() {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return std::string("unshare refused (") + strerror(errno) + ")";
    auto write = [](const char* file, const std::string& text) {
        int fd = open(file, O_WRONLY | O_CLOEXEC);
        if (fd < 0) return false;
        bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        return ok;
    };
    // Every user keeps its own number, so files keep their owners and permissions. A privileged
    // worker maps all of them; any other can map only itself.
    write("/proc/self/setgroups", "deny");
    if (!write("/proc/self/uid_map", "0 0 4294967295"))
        write("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
    if (!write("/proc/self/gid_map", "0 0 4294967295"))
        write("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    return {};
}

// Documents name Word's fonts; the office lays them out with metric-compatible ones (Liberation,
// Carlito, Caladea) where they are installed. scripts/setup unpacks them into a folder of
// their own so the rest of the machine keeps its fonts; the office is pointed at it here.
void UseEngineFonts(const std::string& profile) {
    std::string fonts;
    if (const char* env = getenv("VELLUMOR_ENGINE_FONTS"); env && *env) {
        fonts = env;
    } else {
        const char* cache = getenv("XDG_CACHE_HOME");
        const char* home = getenv("HOME");
        if (cache && *cache)
            fonts = std::string(cache) + "/vellumor/engine-fonts";
        else if (home && *home)
            fonts = std::string(home) + "/.cache/vellumor/engine-fonts";
    }
    struct stat st {};
    if (fonts.empty() || stat(fonts.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    std::string conf = profile + "/fonts.conf";
    std::string base =
        getenv("FONTCONFIG_FILE") ? getenv("FONTCONFIG_FILE") : "/etc/fonts/fonts.conf";
    {
        std::ofstream out(conf, std::ios::trunc);
        out << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
            << "  <include ignore_missing=\"yes\">" << base << "</include>\n"
            << "  <dir>" << fonts << "</dir>\n"
            << "  <cachedir>" << profile << "/fontconfig</cachedir>\n</fontconfig>\n";
    }
    setenv("FONTCONFIG_FILE", conf.c_str(), 1);
}

// What the user can do about a folder the worker cannot write in, from the system's error.
std::string WhyNotWritable(const std::string& folder, int error, const std::string& otherwise) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return "the disk is full";
        case EACCES:
        case EPERM:
            return "no permission to write in " + folder;
        case EROFS:
            return "the folder " + folder + " is read-only";
        case ENAMETOOLONG:
            return "the PDF path is too long";
        default:
            return otherwise + ": " + strerror(error);
    }
}

// Why the office could not store the PDF, from a look at the folder: the office's own error
// reaches us only as text, and a full disk shows there merely as an abort. Empty when nothing
// is known.
std::string WhyStoreFailed(const std::string& folder, const std::string& target) {
    struct statvfs fs {};
    const bool known = statvfs(folder.c_str(), &fs) == 0;
    if (known && fs.f_bavail == 0) return WhyNotWritable(folder, ENOSPC, "");
    if (known && (fs.f_flag & ST_RDONLY)) return WhyNotWritable(folder, EROFS, "");
    if (access(folder.c_str(), W_OK) != 0) return WhyNotWritable(folder, EACCES, "");
    long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
    std::string name = target.substr(target.find_last_of('/') + 1);
    if (target.size() >= PATH_MAX || (nameMax > 0 && static_cast<long>(name.size()) > nameMax))
        return WhyNotWritable(folder, ENAMETOOLONG, "");
    return {};
}

// What a failed load or store says when nothing more is known: the office's own message names
// its internals (classes, error codes, URLs), which mean nothing to the user.
const char* const kCouldNotRead = "the office could not read it; the file may be damaged";
const char* const kCouldNotWrite = "the office could not write a PDF of this document";

#ifdef VELLUMOR_ENGINE_TEST_HOOKS
// Test builds only: VELLUMOR_ENGINE_FAULT=hang:TEXT or crash:TEXT makes a Load of a path that
// contains TEXT hang or die, so the tests can prove the deadline and the crash handling;
// slow:MS:TEXT makes it take MS milliseconds longer, so a test has rows that are still being
// converted when it acts.
void FaultHook(const std::string& path) {
    const char* fault = getenv("VELLUMOR_ENGINE_FAULT");
    if (!fault) return;
    const std::string f = fault;
    const auto colon = f.find(':');
    if (colon == std::string::npos) return;
    const std::string kind = f.substr(0, colon);
    std::string text = f.substr(colon + 1);
    long slowMs = 0;
    if (kind == "slow") {
        const auto end = text.find(':');
        if (end == std::string::npos) return;
        slowMs = std::atol(text.substr(0, end).c_str());
        text = text.substr(end + 1);
    }
    if (path.find(text) == std::string::npos) return;
    if (kind == "hang")
        for (;;) pause();
    if (kind == "crash") raise(SIGKILL);
    if (kind == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
}
#endif

class Worker {
  public:
    // Runs one command on the office's main thread.
    proto::Message Execute(const proto::Message& command) {
        proto::Message reply;
        reply.type = proto::MessageType::Result;
        reply.id = command.id;
        if (command.deadlineMs) g_deadline = NowMs() + command.deadlineMs;
        if (command.type == proto::MessageType::Load)
            memoryCeiling_ = proto::LoadMemoryCeilingBytes(command.reserved);
        g_memoryCeiling = memoryCeiling_;
        if (command.type == proto::MessageType::Load)
            DoLoad(command, reply);
        else
            DoSave(command, reply);
        g_deadline = 0;
        g_memoryCeiling = 0;
        reply.memoryBytes = ResidentBytes();
        return reply;
    }

  private:
    static void Fail(proto::Message& reply, proto::Status status, std::string text) {
        reply.status = status;
        reply.text = std::move(text);
        reply.value = -1;
    }

    void Drop() { documents_.Close(); }

    std::uint64_t memoryCeiling_ = 0;  // of the document held, for its Save too

    void DoLoad(const proto::Message& command, proto::Message& reply) {
        g_times.Begin("load");
        Drop();
        g_times.Step("close");
        if (command.format != vellumor::kFormatDoc && command.format != vellumor::kFormatDocx)
            return Fail(reply, proto::Status::BadRequest,
                        "unknown load format " + std::to_string(command.format));
        std::string path = AbsolutePath(command.text);
        struct stat st {};
        if (stat(path.c_str(), &st) != 0)
            return Fail(reply, proto::Status::NotFound,
                        std::string("cannot open it: ") + strerror(errno));
        if (S_ISDIR(st.st_mode)) return Fail(reply, proto::Status::NotFound, "it is a folder");
        // The content was checked by the client before it sent the file (core/input_check).
        if (access(path.c_str(), R_OK) != 0)
            return Fail(reply, proto::Status::NotFound,
                        std::string("cannot open it: ") + strerror(errno));
#ifdef VELLUMOR_ENGINE_TEST_HOOKS
        FaultHook(path);
#endif
        std::string why;
        bool wantsPassword = false;
        if (!documents_.AllowLocalLinks((command.reserved & proto::kLoadAllowLocalLinks) != 0, why))
            return Fail(reply, proto::Status::LoadFailed,
                        "the office's link setting cannot be changed");
        const std::string url = FileUrlFromPath(path);
        const bool refuseTextImport = (command.reserved & proto::kLoadRefuseTextImport) != 0;
        const std::uint8_t importCode = proto::LoadWordImport(command.reserved);
        if (importCode > vellumor::kLastWordImport)
            return Fail(reply, proto::Status::BadRequest,
                        "unknown Word format " + std::to_string(importCode));
        const auto& wordFilters =
            vellumor::WordImportFilters(static_cast<vellumor::WordImport>(importCode));
        auto isWordFilter = [&](const std::string& filter) {
            return std::find(wordFilters.begin(), wordFilters.end(), filter) != wordFilters.end();
        };
        const std::string unrecognised = std::string("it is ") + vellumor::kUnrecognisedContent;
        std::string filter, filterOptions, detected;
        // Content the input check could not name that the office would only import as text is
        // junk; asked before loading, as a text import of binary data can take minutes. A
        // detection that fails or names nothing refuses it too.
        g_times.Step("prepare");
        if (refuseTextImport && (!documents_.DetectedFilter(url, detected) || detected.empty() ||
                                 vellumor::IsPlainTextImport(detected)))
            return Fail(reply, proto::Status::Refused, unrecognised);
        if (command.reserved & proto::kLoadEightBitText) {
            // Western Windows text, the code page Word itself assumes for such files.
            filter = "Text (encoded)";
            filterOptions = "MS_1252,CRLF,,";
        }
        if (!wordFilters.empty()) {
            // A Word format is read by that format's import only: where the office's detection
            // takes a damaged or encrypted file for something else (text, above all), the
            // format's own filter is named and fails on it.
            filter = documents_.DetectedFilter(url, detected) && isWordFilter(detected)
                         ? detected
                         : wordFilters.front();
        }
        g_times.Step("detect");
        const bool loaded = documents_.Load(url, why, wantsPassword, filter, filterOptions);
        g_times.Step("import");
        if (!loaded) {
            if (wantsPassword)
                return Fail(reply, proto::Status::PasswordProtected,
                            "the document is password-protected");
            // The office's message names its internals, never the user's problem.
            return Fail(reply, proto::Status::LoadFailed, kCouldNotRead);
        }
        if (!documents_.IsText()) {
            Drop();
            return Fail(reply, proto::Status::Refused, "it is not a text document");
        }
        // Whatever the office was asked, what it read the file with decides.
        const std::string used = documents_.LoadedFilter();
        if (!wordFilters.empty() && !isWordFilter(used)) {
            Drop();
            return Fail(reply, proto::Status::LoadFailed, kCouldNotRead);
        }
        if (refuseTextImport && (used.empty() || vellumor::IsPlainTextImport(used))) {
            Drop();
            return Fail(reply, proto::Status::Refused, unrecognised);
        }
        g_times.Step("check");
        std::ifstream package(path, std::ios::binary);
        documents_.LayOutAsWord(vellumor::RecordedPunctuationCompression(package));
        g_times.Step("adjust");
        g_times.End();
        reply.value = 0;
    }

    void DoSave(const proto::Message& command, proto::Message& reply) {
        if (!documents_.Holds())
            return Fail(reply, proto::Status::NoDocument, "no document is loaded");
        if (command.format != vellumor::kFormatPdf)
            return Fail(reply, proto::Status::BadRequest,
                        "unknown save format " + std::to_string(command.format));
        std::string target = AbsolutePath(command.text);
        std::string folder = FolderOf(target);
        if (!MakeFolders(folder))
            return Fail(reply, proto::Status::SaveFailed,
                        WhyNotWritable(folder, errno, "cannot create the folder " + folder));
        struct stat st {};
        if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return Fail(reply, proto::Status::SaveFailed, "the target is a folder");
        // Written in a hidden folder of our own beside the target and renamed over it only
        // when complete: a failed or killed save leaves no truncated PDF and keeps an older
        // one; the export writes straight into a file of ours there (the script worker's
        // office also leaves its temporary and lock files in that folder, which goes).
        std::string partial = (folder == "/" ? "" : folder) + "/" +
                              proto::PartialFolderName(static_cast<std::uint32_t>(getpid()));
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return Fail(reply, proto::Status::SaveFailed,
                        WhyNotWritable(folder, errno, "cannot write in the folder " + folder));
        SetPartialFolder(partial);
        std::string temp = partial + "/" + target.substr(target.find_last_of('/') + 1);
        std::string why;
        g_times.Begin("save");
        if (g_times.On()) g_times.Note("laid_out", documents_.LayOutAllPages());
        g_times.Step("layout");
        bool ok = documents_.StorePdf(temp, command.options & proto::kOptionPdfA, why);
        g_times.Step("export");
        if (!ok || stat(temp.c_str(), &st) != 0 || st.st_size == 0) {
            RemovePartialFolder();
            std::string reason = WhyStoreFailed(folder, target);
            return Fail(reply, proto::Status::SaveFailed, reason.empty() ? kCouldNotWrite : reason);
        }
        if (rename(temp.c_str(), target.c_str()) != 0) {
            int e = errno;
            RemovePartialFolder();
            return Fail(reply, proto::Status::SaveFailed,
                        WhyNotWritable(folder, e, "cannot write the PDF"));
        }
        RemovePartialFolder();
        g_times.Step("place");
        reply.pages = vellumor::engine::PdfPageCount(target);
        g_times.Step("count");
        g_times.End();
        reply.value = 0;
    }

  public:
    vellumor::engine::OfficeDocuments documents_;

  private:
};

// "25.2.3.2" -> 25, 2; nothing known stays 0.0.
void OfficeVersion(const std::string& version, std::uint16_t& major, std::uint16_t& minor) {
    unsigned a = 0, b = 0;
    if (std::sscanf(version.c_str(), "%u.%u", &a, &b) == 2 && a < 65536 && b < 65536) {
        major = static_cast<std::uint16_t>(a);
        minor = static_cast<std::uint16_t>(b);
    }
}

struct Loop {
    Worker* worker = nullptr;
    proto::FrameReader reader;
    bool busy = false;
    bool ready = false;
};

void Wake(void*) {
    char c = 1;
    [[maybe_unused]] auto n = write(g_wakePipe[1], &c, 1);
}

void Drain() {
    char buf[64];
    while (read(g_wakePipe[0], buf, sizeof buf) > 0) {
    }
}

// The office calls this whenever its main loop would wait. At the top level it serves the
// client; inside a command (the office yields while it loads and saves) it only waits.
int Poll(void* data, int timeoutUs) {
    auto* loop = static_cast<Loop*>(data);
    int timeoutMs = timeoutUs < 0 ? -1 : (timeoutUs + 999) / 1000;
    if (loop->busy) {
        if (timeoutMs == 0) return 0;
        pollfd p{g_wakePipe[0], POLLIN, 0};
        int r = poll(&p, 1, timeoutMs < 0 ? 50 : std::min(timeoutMs, 50));
        if (r > 0) Drain();
        return r > 0 ? 1 : 0;
    }
    if (!loop->ready) {
        loop->ready = true;
        proto::Message ready;
        ready.type = proto::MessageType::Ready;
        ready.status = proto::Status::Ok;
        if (!loop->worker->documents_.Attach(ready.text)) {
            ready.status = proto::Status::StartFailed;
            Send(ready);
            _exit(kExitStartFailed);
        }
        auto product = loop->worker->documents_.Describe();
        ready.text = product.name + (product.version.empty() ? "" : " " + product.version);
        OfficeVersion(product.version, ready.officeMajor, ready.officeMinor);
        ready.isolationProblem = g_isolationProblem;
        g_times.Step("office");
        g_times.End();
        Send(ready);
    }
    pollfd p[2] = {{g_socket, POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
    int r = poll(p, 2, timeoutMs);
    if (r <= 0) return 0;
    if (p[1].revents) Drain();
    if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR))) return 1;
    // While a document is held this call does not return to the office's main loop: the
    // office's posted events for the document's (hidden) view would run there, and some build
    // editing widgets this office installation has no resources for. A headless conversion
    // never lets them run either: the document is closed before the loop runs again, and
    // closing it drops them.
    for (;;) {
        char buf[65536];
        ssize_t n = recv(g_socket, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            EmptyOfficeTemp();
            _exit(kExitClientGone);
        }
        if (n > 0) loop->reader.Append(buf, static_cast<std::size_t>(n));
        proto::Message command;
        for (;;) {
            auto result = loop->reader.Next(command);
            if (result == proto::FrameReader::Result::NeedMore) break;
            if (result == proto::FrameReader::Result::Malformed) _exit(kExitProtocol);
            if (command.type == proto::MessageType::Quit) {
                EmptyOfficeTemp();
                _exit(0);
            }
            if (command.type != proto::MessageType::Load &&
                command.type != proto::MessageType::Save)
                _exit(kExitProtocol);
            loop->busy = true;
            proto::Message reply = loop->worker->Execute(command);
            loop->busy = false;
            Send(reply);
        }
        if (!loop->worker->documents_.Holds()) return 1;
    }
}

// runLoop came back without running the office's main loop, as LibreOffice 26.8's kit does.
// In its main-loop mode the kit sets the office's toolkit up before runLoop is called, and the
// office's start, which runLoop calls, now returns at once when it finds the toolkit set up:
// the desktop it would run is made and gone again, and the main loop never runs. What that
// desktop gave the office is made here instead, with the office's own exported functions: an
// application object (the toolkit asks it for settings whenever a window is made), the
// document framework's application, the font replacement table (where the office exports it),
// and then the office's main loop itself, which waits through the poll callback as it did under
// runLoop. Says why when one of the others is missing.
bool RunMainLoopOfOwn(std::string& missing) {
    auto function = [&](const char* name) {
        void* address = dlsym(RTLD_DEFAULT, name);
        if (!address && missing.empty()) missing = name;
        return address;
    };
    auto currentApplication = reinterpret_cast<void* (*)()>(function("_Z7GetpAppv"));
    auto makeApplication = reinterpret_cast<void (*)(void*)>(function("_ZN11ApplicationC1Ev"));
    auto frameworkApplication =
        reinterpret_cast<void* (*)()>(function("_ZN14SfxApplication11GetOrCreateEv"));
    auto execute = reinterpret_cast<void (*)()>(function("_ZN11Application7ExecuteEv"));
    if (!missing.empty()) return false;
    // The toolkit's application object holds only its table of virtual functions and two
    // pointers; room for far more. It lives as long as the process.
    alignas(std::max_align_t) static unsigned char application[1024];
    if (!currentApplication()) makeApplication(application);
    frameworkApplication();
    // The desktop's start also handed the profile's font replacement table to the toolkit;
    // without it every face a document names and the system lacks falls back by guess.
    if (auto applySubstitutions = reinterpret_cast<void (*)()>(
            dlsym(RTLD_DEFAULT, "_ZN7svtools27ApplyFontSubstitutionsToVclEv")))
        applySubstitutions();
    execute();
    return true;
}

[[noreturn]] void OfficeRanNoMainLoop(const std::string& missing) {
    proto::Message ready;
    ready.type = proto::MessageType::Ready;
    ready.status = proto::Status::StartFailed;
    ready.text = "this office does not run its main loop for the kit (" + missing + ")";
    Send(ready);
    _exit(kExitStartFailed);
}

int Connect(int port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(s);
        return -1;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: vellumor-engine PORT (started by its client)\n");
        return kExitUsage;
    }
    int port = atoi(argv[1]);
    const char* tokenVar = getenv(proto::kTokenVariable);
    std::string token = tokenVar ? tokenVar : "";
    unsetenv(proto::kTokenVariable);
    if (port <= 0 || port > 65535 || token.empty()) {
        fprintf(stderr, "vellumor-engine: needs a port and a token from its client\n");
        return kExitUsage;
    }
    RedirectStandardStreams();
    signal(SIGPIPE, SIG_IGN);
    g_times.Open(getenv("VELLUMOR_ENGINE_TIMES"));
    g_times.Begin("start");

    g_socket = Connect(port);
    if (g_socket < 0) return kExitClientGone;
#ifdef VELLUMOR_ENGINE_TEST_HOOKS
    // Test builds only: the office's own settings are tested without the namespace in front.
    const char* shared = getenv("VELLUMOR_ENGINE_SHARED_NETWORK");
    if (!shared || std::strcmp(shared, "1") != 0)
#endif
        g_isolationProblem = IsolateNetwork();
    proto::Message hello;
    hello.type = proto::MessageType::Hello;
    hello.version = proto::kVersion;
    hello.token = token;
    hello.pid = static_cast<std::uint32_t>(getpid());
    Send(hello);
    std::thread(Watchdog).detach();

    if (pipe2(g_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) return kExitStartFailed;

    // What the office may do with documents comes from the settings file; without it the
    // office would run with its own defaults (macros, links), so the worker does not start.
    std::vector<vellumor::engine::OfficeSetting> settings;
    std::string settingsError;
    if (!vellumor::engine::ReadOfficeSettings(SettingsFileBesideProgram(), settings, settingsError))
        return StartFailed(settingsError);
    std::string profile = ProfileFolder();
    if (profile.empty())
        return StartFailed(std::string("no office profile folder could be made under the cache "
                                       "folder or /tmp (") +
                           strerror(errno) + ")");
    if (std::string problem = PrepareProfile(profile, settings); !problem.empty())
        return StartFailed(problem);
    if (std::string problem = PrepareOfficeTemp(profile, g_officeTemp, g_documentFonts);
        !problem.empty())
        return StartFailed(problem);
    UseEngineFonts(profile);
    setenv("SAL_LOK_OPTIONS", "unipoll", 1);
    setenv("SAL_USE_VCLPLUGIN", "svp", 1);
    setenv("SAL_NO_MOUSEGRABS", "1", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    lok::Office* office = lok::lok_cpp_init(kInstallPath, FileUrlFromPath(profile).c_str());
    if (!office)
        return StartFailed("the office could not be started from " + std::string(kInstallPath));
    Worker worker;
    Loop loop;
    loop.worker = &worker;
    office->runLoop(Poll, Wake, &loop);
    if (!loop.ready) {
        std::string missing;
        if (!RunMainLoopOfOwn(missing)) OfficeRanNoMainLoop(missing);
    }
    _exit(0);
}
