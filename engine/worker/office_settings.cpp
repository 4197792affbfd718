#include "engine/worker/office_settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace vellumor::engine {

namespace {

std::string Trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool IsSetMember(const std::string& path) {
    return path.size() > 4 && EndsWith(path, "']") && path.rfind("['") != std::string::npos;
}

}  // namespace

bool ReadOfficeSettings(const std::string& file, std::vector<OfficeSetting>& settings,
                        std::string& error) {
    settings.clear();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "the office settings file " + file + " cannot be read: " + std::strerror(errno);
        return false;
    }
    std::string path;
    bool onWindows = true;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        const std::string line = Trimmed(raw);
        auto bad = [&](const std::string& why) {
            error = "the office settings file " + file + " is damaged at line " +
                    std::to_string(number) + ": " + why;
            return false;
        };
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            std::string header = line;
            onWindows = !EndsWith(header, "] not-windows");
            if (!onWindows) header.resize(header.size() - std::strlen(" not-windows"));
            if (header.size() < 3 || header.back() != ']' || header[1] != '/')
                return bad("a node is named as [/path] or [/path] not-windows");
            path = header.substr(1, header.size() - 2);
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) return bad("a setting reads Name = value");
        const std::string name = Trimmed(line.substr(0, equals));
        if (name.empty() || name.find_first_of(" \t") != std::string::npos)
            return bad("a setting reads Name = value");
        if (path.empty()) return bad("a setting comes after the [/path] of its node");
        settings.push_back({path, name, Trimmed(line.substr(equals + 1)), onWindows});
    }
    if (in.bad()) {
        error = "the office settings file " + file + " cannot be read: " + std::strerror(errno);
        return false;
    }
    if (settings.empty()) {
        error = "the office settings file " + file + " holds no settings";
        return false;
    }
    return true;
}

std::string ProfileSettingsText(const std::vector<OfficeSetting>& settings) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
        "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    std::string member;  // the set member whose node is open
    for (const auto& setting : settings) {
        if (!member.empty() && setting.path != member) {
            text += "</node></item>\n";
            member.clear();
        }
        const std::string prop = "<prop oor:name=\"" + Escaped(setting.name) +
                                 "\" oor:op=\"fuse\"><value>" + Escaped(setting.value) +
                                 "</value></prop>";
        if (!IsSetMember(setting.path)) {
            text += "<item oor:path=\"" + Escaped(setting.path) + "\">" + prop + "</item>\n";
            continue;
        }
        if (member.empty()) {
            const std::size_t at = setting.path.rfind("['");
            text += "<item oor:path=\"" + Escaped(setting.path.substr(0, at)) +
                    "\"><node oor:name=\"" +
                    Escaped(setting.path.substr(at + 2, setting.path.size() - at - 4)) +
                    "\" oor:op=\"replace\">";
            member = setting.path;
        }
        text += prop;
    }
    if (!member.empty()) text += "</node></item>\n";
    return text + "</oor:items>\n";
}

}  // namespace vellumor::engine
