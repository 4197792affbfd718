#include "filelist/file_list.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "core/list_compare.h"
#include "core/paths.h"
#include "core/trace.h"
#include "win32/guard.h"
#include "win32/handles.h"
#include "win32/long_path.h"
#include "win32/system_text.h"
#include "win32/unicode.h"

namespace vellumor::filelist {

namespace {

// Closes a directory search.
struct FindCloser {
    void operator()(HANDLE h) const { FindClose(h); }
};
using FindHandle = win::Owned<HANDLE, FindCloser>;

// Long paths (a folder near the limit and a long name) are searched in their "\\?\" form.
FindHandle FindFirst(const std::string& pattern, WIN32_FIND_DATAW& found) {
    HANDLE h = FindFirstFileW(win::LongPath(pattern).c_str(), &found);
    return FindHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The message for a folder whose entries cannot be read, naming it.
std::string CannotReadFolder(const std::string& folder, DWORD error) {
    std::string reason;
    switch (error) {
        case ERROR_ACCESS_DENIED:
            reason = "permission denied";
            break;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
        case ERROR_INVALID_NAME:
            reason = "there is no such folder";
            break;
        default:
            reason = win::SystemErrorText(error);
            if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z')
                reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    }
    return "Cannot read the folder " + folder + ": " + reason;
}

// A link's entry shows the file it leads to: its size and times, as for the file itself. A
// link that leads nowhere keeps its own entry; its row fails when the run comes to it.
void FollowLink(const std::string& path, WIN32_FIND_DATAW& found) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    HANDLE h = CreateFileW(win::LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    win::Owned<HANDLE, win::CloseKernelHandle> file(h);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file.get(), &info)) return;
    found.nFileSizeHigh = info.nFileSizeHigh;
    found.nFileSizeLow = info.nFileSizeLow;
    found.ftCreationTime = info.ftCreationTime;
    found.ftLastWriteTime = info.ftLastWriteTime;
}

SYSTEMTIME SystemTimeOf(const CivilTime& t) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    return st;
}

std::uint64_t Ticks(const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

std::string TimeText(const FILETIME& utc, const TimeFormats& formats) {
    FILETIME local = {};
    if (!FileTimeToLocalFileTime(&utc, &local)) local = utc;
    return EntryTimeText(Ticks(local), formats);
}

}  // namespace

TimeFormats UserTimeFormats() {
    TimeFormats formats;
    formats.shortDate = [](const CivilTime& t) {
        SYSTEMTIME st = SystemTimeOf(t);
        wchar_t text[128] = {};
        if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, text, 128))
            return std::string();
        return win::Narrow(text);
    };
    formats.longTime = [](const CivilTime& t) {
        SYSTEMTIME st = SystemTimeOf(t);
        wchar_t text[128] = {};
        if (!GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, text, 128)) return std::string();
        return win::Narrow(text);
    };
    return formats;
}

EntryTexts TextsOf(const WIN32_FIND_DATAW& found, const TimeFormats& formats) {
    EntryTexts texts;
    const std::uint64_t size =
        (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    texts.size = SizeText(size);
    texts.created = TimeText(found.ftCreationTime, formats);
    texts.written = TimeText(found.ftLastWriteTime, formats);
    return texts;
}

std::vector<std::string> ChooseFiles(ShellDialogs& dialogs, HWND owner,
                                     const OpenDialogSettings& settings) {
    // "a|b|c|d" becomes "a\0b\0c\0d\0\0".
    std::wstring filter = win::Widen(settings.filter);
    for (auto& c : filter)
        if (c == L'|') c = L'\0';
    filter.push_back(L'\0');
    filter.push_back(L'\0');

    std::wstring buffer(static_cast<size_t>(settings.bufferSize) + 2, L'\0');
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(settings.bufferSize);
    dialog.Flags = settings.flags;
    if (!dialogs.OpenFiles(dialog)) return {};

    // One file: its full path. Several: the folder, then each name, each ended by a NUL.
    std::vector<std::wstring> parts;
    const wchar_t* p = buffer.c_str();
    while (*p) {
        parts.emplace_back(p);
        p += parts.back().size() + 1;
    }
    std::vector<std::string> paths;
    if (parts.size() == 1) {
        paths.push_back(win::Narrow(parts[0]));
    } else if (parts.size() > 1) {
        std::wstring folder = parts[0];
        if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
        for (size_t i = 1; i < parts.size(); ++i) paths.push_back(win::Narrow(folder + parts[i]));
    }
    return paths;
}

struct FileList::FormatCache {
    TimeFormats user = UserTimeFormats();
    std::unordered_map<int, std::string> dates, times;
};

FileList::FileList(HWND listView) : list_(listView), formatCache_(std::make_shared<FormatCache>()) {
    SetWindowSubclass(list_, &FileList::ListSubclass, 0x46494C45,
                      reinterpret_cast<DWORD_PTR>(this));
    std::weak_ptr<FormatCache> cache = formatCache_;
    formats_.shortDate = [cache](const CivilTime& t) {
        auto c = cache.lock();
        const int key = t.year * 10000 + t.month * 100 + t.day;
        auto it = c->dates.find(key);
        if (it == c->dates.end()) it = c->dates.emplace(key, c->user.shortDate(t)).first;
        return it->second;
    };
    formats_.longTime = [cache](const CivilTime& t) {
        auto c = cache.lock();
        const int key = t.hour * 10000 + t.minute * 100 + t.second;
        auto it = c->times.find(key);
        if (it == c->times.end()) it = c->times.emplace(key, c->user.longTime(t)).first;
        return it->second;
    };
}

FileList::~FileList() {
    if (IsWindow(list_)) RemoveWindowSubclass(list_, &FileList::ListSubclass, 0x46494C45);
}

LRESULT CALLBACK FileList::ListSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR self) {
    auto& list = *reinterpret_cast<FileList*>(self);
    if (message == LVM_DELETEITEM) {
        const auto row = static_cast<size_t>(wParam);
        if (row >= list.rows_.size()) return FALSE;
        list.rows_.erase(list.rows_.begin() + static_cast<std::ptrdiff_t>(row));
    } else if (message == LVM_DELETEALLITEMS) {
        list.rows_.clear();
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

void FileList::FillDisplayInfo(NMLVDISPINFOW& info) const {
    if (!(info.item.mask & LVIF_TEXT) || !info.item.pszText || info.item.cchTextMax <= 0) return;
    const auto row = static_cast<size_t>(info.item.iItem);
    const int column = info.item.iSubItem;
    if (row >= rows_.size() || column < 0 || column >= 5) {
        info.item.pszText[0] = L'\0';
        return;
    }
    const std::wstring& text = rows_[row].cells[column];
    const size_t length = std::min(text.size(), static_cast<size_t>(info.item.cchTextMax - 1));
    std::copy_n(text.data(), length, info.item.pszText);
    info.item.pszText[length] = L'\0';
}

void FileList::Rename(int row, const std::wstring& name) {
    if (row >= 0 && static_cast<size_t>(row) < rows_.size()) {
        rows_[static_cast<size_t>(row)].cells[0] = name;
        SendMessageW(list_, LVM_REDRAWITEMS, row, row);
    }
}

void FileList::ShowCount() {
    SendMessageW(list_, LVM_SETITEMCOUNT, rows_.size(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

// A change of the regional settings shows from the next adding operation on.
void FileList::ForgetFormats() {
    formatCache_->user = UserTimeFormats();
    formatCache_->dates.clear();
    formatCache_->times.clear();
}

bool FileList::AddFileEntry(const std::string& path) {
    if (!bulk_) ForgetFormats();
    WIN32_FIND_DATAW found = {};
    EntryTexts texts;
    {
        FindHandle search = FindFirst(path, found);
        if (!search) return false;
        FollowLink(path, found);
        texts = TextsOf(found, formats_);
    }
    AppendRow(FileNameOf(path), path, texts);
    return true;
}

int FileList::AddFolder(const std::string& folder) {
    BulkAppend bulk(*this);
    WIN32_FIND_DATAW found = {};
    FindHandle search = FindFirst(folder + "\\*.*", found);
    if (!search) {
        // Nothing to list is no failure; a folder that cannot be read is said once, not taken
        // for an empty one.
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return 0;
        throw std::runtime_error(CannotReadFolder(folder, error));
    }
    int added = 0;
    do {
        const std::string name = win::Narrow(found.cFileName);
        const std::string extension = ExtensionOf(name);
        if (extension == ".doc" || extension == ".docx") {
            const std::string path = folder + "\\" + name;
            FollowLink(path, found);
            AppendRow(name, path, TextsOf(found, formats_));
            ++added;
        }
    } while (FindNextFileW(search.get(), &found));
    // The rows found so far stay; a listing that broke off is said like an unreadable folder.
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES)
        throw std::runtime_error(CannotReadFolder(folder, error));
    return added;
}

int FileList::AddDropped(const std::vector<std::string>& paths) {
    BulkAppend bulk(*this);
    int added = 0;
    for (const std::string& path : paths) {
        // Paths of any length: beyond 260 characters through the "\\?\" form.
        const DWORD attributes = GetFileAttributesW(win::LongPath(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            Trace("a dropped path was not added: " + path + ": " +
                  win::SystemErrorText(GetLastError()));
            continue;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            added += AddFolder(path);
        } else {
            const std::string extension = ExtensionOf(path);
            if ((extension == ".doc" || extension == ".docx") && AddFileEntry(path)) ++added;
        }
    }
    return added;
}

// The list is painted this often while a bulk append runs, or less often where a paint is slow:
// painting then takes at most a tenth of the time the rows take.
constexpr DWORD kBulkPaintMs = 40;

FileList::BulkAppend::BulkAppend(FileList& list)
    : list_(list), outer_(list.bulk_), shownAt_(GetTickCount()), paintEvery_(kBulkPaintMs) {
    if (outer_) return;
    list_.bulk_ = this;
    list_.ForgetFormats();
    SendMessageW(list_.list_, WM_SETREDRAW, FALSE, 0);
}

FileList::BulkAppend::~BulkAppend() {
    if (outer_) return;
    list_.bulk_ = nullptr;
    list_.ShowCount();
    SendMessageW(list_.list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_.list_, nullptr, TRUE);
}

void FileList::BulkAppend::RowAppended() {
    if (outer_) return outer_->RowAppended();
    if (GetTickCount() - shownAt_ >= paintEvery_) Show();
}

// Paints what is in the list so far, and whatever else of the window waits for paint.
void FileList::BulkAppend::Show() {
    const DWORD started = GetTickCount();
    list_.ShowCount();
    SendMessageW(list_.list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_.list_, nullptr, TRUE);
    RedrawWindow(GetAncestor(list_.list_, GA_ROOT), nullptr, nullptr,
                 RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageW(list_.list_, WM_SETREDRAW, FALSE, 0);
    const DWORD now = GetTickCount();
    paintEvery_ = std::max<DWORD>(kBulkPaintMs, 9 * (now - started));
    shownAt_ = now;
}

void FileList::AppendRow(const std::string& name, const std::string& path,
                         const EntryTexts& texts) {
    rows_.push_back(Row{{win::Widen(name), win::Widen(path), win::Widen(texts.size),
                         win::Widen(texts.created), win::Widen(texts.written)}});
    if (bulk_)
        bulk_->RowAppended();
    else
        ShowCount();
}

void FileList::RemoveSelected() {
    for (int row = Count() - 1; row >= 0; --row)
        if (Selected(row)) SendMessageW(list_, LVM_DELETEITEM, row, 0);
}

void FileList::RemoveAll() {
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
}

void FileList::Sort(int column) {
    if (column < 0 || column >= 5) return;
    // Each row's text is read once; the rows keep their selection and the one with the focus.
    const int focused = static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM, -1, LVNI_FOCUSED));
    struct Key {
        std::string text;
        size_t row;
        bool selected, focused;
    };
    std::vector<Key> keys;
    keys.reserve(rows_.size());
    for (size_t row = 0; row < rows_.size(); ++row)
        keys.push_back({win::Narrow(rows_[row].cells[column]), row, Selected(static_cast<int>(row)),
                        static_cast<int>(row) == focused});
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return CompareListText(a.text, b.text) < 0;
    });
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (const Key& key : keys) sorted.push_back(std::move(rows_[key.row]));
    rows_ = std::move(sorted);

    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), (LPARAM)&none);
    for (size_t row = 0; row < keys.size(); ++row) {
        if (!keys[row].selected && !keys[row].focused) continue;
        LVITEMW state = {};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state =
            (keys[row].selected ? LVIS_SELECTED : 0) | (keys[row].focused ? LVIS_FOCUSED : 0);
        SendMessageW(list_, LVM_SETITEMSTATE, row, (LPARAM)&state);
    }
    InvalidateRect(list_, nullptr, TRUE);
}

int FileList::Compare(int row1, int row2, int column) const {
    return CompareListText(Text(row1, column), Text(row2, column));
}

int FileList::Count() const {
    return static_cast<int>(rows_.size());
}

std::string FileList::Text(int row, int column) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size() || column < 0 || column >= 5) return {};
    return win::Narrow(rows_[static_cast<size_t>(row)].cells[column]);
}

bool FileList::Selected(int row) const {
    return SendMessageW(list_, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED;
}

}  // namespace vellumor::filelist
