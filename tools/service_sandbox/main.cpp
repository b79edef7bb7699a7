// quorvanti-service-sandbox: runs a program under the seccomp restrictions of a systemd service unit, as
// systemd 252 applies them, where no service manager runs (the tests, a build machine):
//
//   quorvanti-service-sandbox UNIT_FILE -- PROGRAM [ARGUMENT...]
//
// From the unit's [Service] section: SystemCallFilter= (its groups expanded by `systemd-analyze
// syscall-filter`, so the sets are the installed systemd's own) with SystemCallErrorNumber=,
// RestrictAddressFamilies=, MemoryDenyWriteExecute=, RestrictNamespaces=, LockPersonality= and UMask=;
// only the native system-call ABI passes (SystemCallArchitectures=native). What needs the service manager
// itself (mount namespaces, the device cgroup, users, capabilities) is not reproduced: systemd-analyze
// security rates those. A setting this program cannot reproduce ends it with status 2 before the program
// starts; a failed start of the program is status 127.
#include <linux/sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& why) { throw std::runtime_error(why); }

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

// Every assignment of the [Service] section, in order, by key (continued lines joined).
std::map<std::string, std::vector<std::string>> serviceSettings(const std::string& unitFile) {
    std::ifstream in(unitFile);
    if (!in) fail("cannot read " + unitFile);
    std::map<std::string, std::vector<std::string>> settings;
    bool inService = false;
    std::string line, pending;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1) + " ";
            continue;
        }
        line = trimmed(pending + line);
        pending.clear();
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            inService = line == "[Service]";
            continue;
        }
        const auto equals = line.find('=');
        if (inService && equals != std::string::npos)
            settings[trimmed(line.substr(0, equals))].push_back(trimmed(line.substr(equals + 1)));
    }
    return settings;
}

// The system-call groups of the installed systemd: "@name" → its members (names and groups).
std::map<std::string, std::vector<std::string>> systemCallGroups() {
    FILE* pipe = popen("systemd-analyze syscall-filter --no-pager 2>/dev/null", "r");
    if (pipe == nullptr) fail("cannot run systemd-analyze");
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    pclose(pipe);
    std::map<std::string, std::vector<std::string>> groups;
    std::istringstream in(text);
    std::string current;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("@")) {
            current = trimmed(line);
            groups[current];
        } else if (const std::string item = trimmed(line); item.empty() || item[0] == '#' || line[0] == '#') {
            if (item.empty()) current.clear();
        } else if (!current.empty()) {
            groups[current].push_back(item);
        }
    }
    if (groups.count("@default") == 0) fail("systemd-analyze syscall-filter listed no groups");
    return groups;
}

void expand(const std::map<std::string, std::vector<std::string>>& groups, const std::string& name,
            std::set<std::string>& into) {
    if (!name.starts_with("@")) {
        into.insert(name);
        return;
    }
    const auto group = groups.find(name);
    if (group == groups.end()) fail("unknown system-call group " + name);
    for (const auto& member : group->second) expand(groups, member, into);
}

// SystemCallFilter= as systemd reads it: the first assignment makes an allow list (with @default) or,
// with "~", a deny list; later ones add to it or, inverted, take from it; an empty one resets.
struct CallFilter {
    bool allowList = false;
    std::set<std::string> names;
};

std::optional<CallFilter> callFilter(const std::vector<std::string>& assignments) {
    std::optional<CallFilter> filter;
    std::map<std::string, std::vector<std::string>> groups;
    for (std::string value : assignments) {
        if (value.empty()) {
            filter.reset();
            continue;
        }
        if (groups.empty()) groups = systemCallGroups();
        const bool invert = value[0] == '~';
        if (invert) value.erase(0, 1);
        if (!filter) {
            filter = CallFilter{.allowList = !invert, .names = {}};
            if (filter->allowList) expand(groups, "@default", filter->names);
        }
        for (const auto& name : words(value)) {
            if (name.find(':') != std::string::npos) fail("per-call error numbers are not reproduced: " + name);
            std::set<std::string> named;
            expand(groups, name, named);
            for (const auto& call : named) {
                if (invert != filter->allowList)
                    filter->names.insert(call);
                else
                    filter->names.erase(call);
            }
        }
    }
    return filter;
}

int errorNumber(const std::string& name) {
    for (int number = 1; number < 4096; ++number)
        if (const char* known = strerrorname_np(number); known != nullptr && name == known) return number;
    fail("unknown error number " + name);
}

bool yes(const std::vector<std::string>& values) {
    if (values.empty()) return false;
    const std::string& last = values.back();
    if (last == "yes" || last == "true" || last == "on" || last == "1") return true;
    if (last == "no" || last == "false" || last == "off" || last == "0" || last.empty()) return false;
    fail("only yes or no is reproduced, not " + last);
}

int addressFamily(const std::string& name) {
    static const std::map<std::string, int> known{{"AF_UNIX", AF_UNIX},       {"AF_LOCAL", AF_LOCAL},
                                                  {"AF_INET", AF_INET},       {"AF_INET6", AF_INET6},
                                                  {"AF_NETLINK", AF_NETLINK}, {"AF_PACKET", AF_PACKET}};
    const auto found = known.find(name);
    if (found == known.end()) fail("unknown address family " + name);
    return found->second;
}

// One seccomp filter; rules are added to a filter that lets everything else pass, unless built with
// another default action. The kernel runs every filter loaded and takes the strictest answer, as
// systemd's separate filters do.
class Filter {
public:
    explicit Filter(std::uint32_t defaultAction) : ctx_(seccomp_init(defaultAction)) {
        if (ctx_ == nullptr) fail("seccomp_init failed");
    }
    ~Filter() { seccomp_release(ctx_); }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    // Names unknown to libseccomp, or absent from this architecture, are left out, as systemd does.
    void add(std::uint32_t action, const char* call, std::vector<scmp_arg_cmp> conditions = {}) {
        const int number = seccomp_syscall_resolve_name(call);
        if (number < 0) return;
        const int error = seccomp_rule_add_array(ctx_, action, number, static_cast<unsigned>(conditions.size()),
                                                 conditions.empty() ? nullptr : conditions.data());
        if (error != 0 && error != -EEXIST)
            fail(std::string("seccomp rule for ") + call + ": " + std::strerror(-error));
    }
    void load() {
        if (const int error = seccomp_load(ctx_); error != 0)
            fail(std::string("seccomp_load: ") + std::strerror(-error));
    }

private:
    scmp_filter_ctx ctx_;
};

void applyUnit(const std::string& unitFile) {
    auto settings = serviceSettings(unitFile);
    const auto setting = [&](const char* key) {
        return settings.count(key) ? settings[key] : std::vector<std::string>{};
    };
    for (const auto& architectures : setting("SystemCallArchitectures"))
        if (architectures != "native") fail("only SystemCallArchitectures=native is reproduced");
    if (!setting("UMask").empty()) umask(static_cast<mode_t>(std::stoul(setting("UMask").back(), nullptr, 8)));

    std::vector<std::unique_ptr<Filter>> filters;
    const auto filter = [&] { return filters.emplace_back(std::make_unique<Filter>(SCMP_ACT_ALLOW)).get(); };
    if (yes(setting("MemoryDenyWriteExecute"))) {
        Filter* f = filter();
        const std::uint64_t writeExec = PROT_WRITE | PROT_EXEC;
        f->add(SCMP_ACT_ERRNO(EPERM), "mmap", {SCMP_A2(SCMP_CMP_MASKED_EQ, writeExec, writeExec)});
        f->add(SCMP_ACT_ERRNO(EPERM), "mprotect", {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, PROT_EXEC)});
        f->add(SCMP_ACT_ERRNO(EPERM), "pkey_mprotect", {SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, PROT_EXEC)});
        f->add(SCMP_ACT_ERRNO(EPERM), "shmat", {SCMP_A2(SCMP_CMP_MASKED_EQ, SHM_EXEC, SHM_EXEC)});
    }
    if (yes(setting("RestrictNamespaces"))) {
        Filter* f = filter();
        // Creating or joining any namespace fails; clone3 hides its flags in memory, so it answers ENOSYS
        // and the C library falls back to clone, whose flags are seen. CLONE_NEWTIME shares its bit with
        // clone's exit signal and is looked for in unshare only.
        const std::uint64_t kinds[] = {CLONE_NEWNS,  CLONE_NEWCGROUP, CLONE_NEWUTS, CLONE_NEWIPC,
                                       CLONE_NEWUSER, CLONE_NEWPID,   CLONE_NEWNET, CLONE_NEWTIME};
        for (const std::uint64_t kind : kinds) {
            f->add(SCMP_ACT_ERRNO(EPERM), "unshare", {SCMP_A0(SCMP_CMP_MASKED_EQ, kind, kind)});
            if (kind != CLONE_NEWTIME)
                f->add(SCMP_ACT_ERRNO(EPERM), "clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, kind, kind)});
        }
        f->add(SCMP_ACT_ERRNO(EPERM), "setns");
        f->add(SCMP_ACT_ERRNO(ENOSYS), "clone3");
    }
    if (yes(setting("LockPersonality")))
        filter()->add(SCMP_ACT_ERRNO(EPERM), "personality", {SCMP_A0(SCMP_CMP_NE, 0 /* PER_LINUX */)});
    if (const auto families = setting("RestrictAddressFamilies"); !families.empty()) {
        if (families.size() != 1) fail("RestrictAddressFamilies= is reproduced from one assignment only");
        std::string list = families.back();
        const bool deny = !list.empty() && list[0] == '~';
        if (deny) list.erase(0, 1);
        std::set<int> named;
        for (const auto& name : words(list)) named.insert(addressFamily(name));
        Filter* f = filter();
        for (int family = 0; family < AF_MAX; ++family)
            if (named.count(family) == (deny ? 1u : 0u))
                f->add(SCMP_ACT_ERRNO(EAFNOSUPPORT), "socket",
                       {SCMP_A0(SCMP_CMP_EQ, static_cast<std::uint64_t>(family))});
        if (!deny) f->add(SCMP_ACT_ERRNO(EAFNOSUPPORT), "socket", {SCMP_A0(SCMP_CMP_GE, AF_MAX)});
    }
    // The system-call filter goes last: loading the others needs calls it may deny.
    if (const auto calls = callFilter(setting("SystemCallFilter"))) {
        const auto errors = setting("SystemCallErrorNumber");
        const std::uint32_t denied = errors.empty() || errors.back() == "kill"
                                         ? SCMP_ACT_KILL_PROCESS
                                         : SCMP_ACT_ERRNO(errorNumber(errors.back()));
        auto& f = *filters.emplace_back(std::make_unique<Filter>(calls->allowList ? denied : SCMP_ACT_ALLOW));
        for (const auto& name : calls->names) f.add(calls->allowList ? SCMP_ACT_ALLOW : denied, name.c_str());
    }
    for (auto& f : filters) f->load();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::string(argv[2]) != "--") {
        std::cerr << "usage: quorvanti-service-sandbox UNIT_FILE -- PROGRAM [ARGUMENT...]\n";
        return 2;
    }
    try {
        applyUnit(argv[1]);
    } catch (const std::exception& error) {
        std::cerr << "quorvanti-service-sandbox: " << error.what() << "\n";
        return 2;
    }
    execvp(argv[3], argv + 3);
    std::cerr << "quorvanti-service-sandbox: " << argv[3] << ": " << std::strerror(errno) << "\n";
    return 127;
}
