#include "e2e_expect.h"

#include <stdio.h>

namespace {

struct ProtectionName {
    DWORD bit;
    const char* text;
};

const ProtectionName kProtectionNames[] = {
    {0x10, "PAGE_EXECUTE "},       {0x20, "PAGE_EXECUTE_READ "},
    {0x40, "PAGE_EXECUTE_READWRITE "}, {0x80, "PAGE_EXECUTE_WRITECOPY "},
    {0x01, "PAGE_NOACCESS "},      {0x02, "PAGE_READONLY "},
    {0x04, "PAGE_READWRITE "},     {0x08, "PAGE_WRITECOPY "},
    {0x100, "PAGE_GUARD "},        {0x200, "PAGE_NOCACHE "},
    {0x400, "PAGE_WRITECOMBINE "},
};

std::string Format(const char* format, unsigned long a, unsigned long b = 0) {
    char text[64];
    snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

std::vector<WalkedRegion> WalkAddressSpace(HANDLE process) {
    const ULONGLONG top = sizeof(void*) == 8 ? ~0ull : kFourGb - 1;
    std::vector<WalkedRegion> regions;
    ULONGLONG cursor = 0;
    for (;;) {
        MEMORY_BASIC_INFORMATION mbi;
        if (!VirtualQueryEx(process, reinterpret_cast<LPCVOID>(static_cast<ULONG_PTR>(cursor)), &mbi, sizeof mbi)) {
            break;
        }
        WalkedRegion r;
        r.base = reinterpret_cast<ULONG_PTR>(mbi.BaseAddress);
        r.size = mbi.RegionSize;
        r.allocationProtect = mbi.AllocationProtect;
        r.state = mbi.State;
        r.type = mbi.Type;
        regions.push_back(r);
        if (r.size == 0 || r.size > top - cursor) break;
        cursor += r.size;
    }
    return regions;
}

std::string Hex(ULONGLONG value) {
    if (value >> 32) {
        return Format("0x%lx%08lx", static_cast<unsigned long>(value >> 32),
                      static_cast<unsigned long>(value & 0xFFFFFFFFu));
    }
    return Format("0x%08lx", static_cast<unsigned long>(value));
}

std::string ProtectionLine(DWORD allocationProtect) {
    std::string line;
    for (const ProtectionName& name : kProtectionNames) {
        if (allocationProtect & name.bit) line += name.text;
    }
    return line;
}

std::vector<std::string> RegionTableLines(const std::vector<WalkedRegion>& regions) {
    std::vector<std::string> lines;
    for (const WalkedRegion& r : regions) {
        lines.push_back(std::string(52, '-'));
        lines.push_back("区域基址为:" + Hex(r.base));
        lines.push_back(ProtectionLine(r.allocationProtect));
        lines.push_back(r.state == MEM_COMMIT ? "已调拨" : r.state == MEM_RESERVE ? "已预留" : r.state == MEM_FREE ? "未用" : "");
        lines.push_back(r.type == MEM_PRIVATE ? "私有" : r.type == MEM_MAPPED ? "映射" : r.type == MEM_IMAGE ? "镜像" : "");
        lines.push_back("大小:" + Hex(r.size) + "字节");
    }
    return lines;
}

std::vector<std::string> ModuleListLines(const std::vector<ReportedModule>& modules) {
    const std::string separator(45, '-');
    std::vector<std::string> lines;
    lines.push_back("模块总数量:" + std::to_string(modules.size()) + "个");
    lines.push_back(separator);
    for (size_t i = 0; i < modules.size(); ++i) {
        const ReportedModule& m = modules[i];
        lines.push_back("第" + std::to_string(i + 1) + "个模块信息");
        lines.push_back("模块名称为:" + m.name);
        lines.push_back("模块基址为:" + Hex(m.base));
        lines.push_back("模块大小为:" + Hex(m.size));
        lines.push_back("模块入口地址为:" + Hex(m.entry));
        lines.push_back(separator);
    }
    return lines;
}

int MapRow(DWORD address) {
    return static_cast<int>(static_cast<double>(address) * 396.0 / 2147483647.0 + 20.0);
}

std::vector<Stretch> MapStretches(const std::vector<WalkedRegion>& regions) {
    std::vector<Stretch> s;
    bool high = false;
    for (const WalkedRegion& r : regions) {
        if ((r.state != MEM_COMMIT && r.state != MEM_RESERVE) || r.size == 0) continue;
        high = high || r.base + r.size > 0x80000000ull;
        if (s.empty() || r.base - s.back().last - 1 >= 0x40000000ull) s.push_back({r.base, 0, 0, 0});
        s.back().last = r.base + (r.size - 1);
    }
    if (sizeof(void*) < 8 || !high) return {};
    int count = static_cast<int>(s.size()), top = 20, given = 0;
    ULONGLONG extra = static_cast<ULONGLONG>(397 - 2 * (count - 1) - 4 * count), total = 0, running = 0;
    for (const Stretch& t : s) total += (t.last - t.first) / 4096 + 1;
    for (Stretch& t : s) {
        running += (t.last - t.first) / 4096 + 1;
        int share = static_cast<int>(extra * running / total);
        t = {t.first, t.last, top, 4 + share - given};
        given = share;
        top += t.rows + 2;
    }
    return s;
}

int MapRowIn(const std::vector<Stretch>& stretches, ULONGLONG address) {
    if (stretches.empty()) return address < kFourGb ? MapRow(static_cast<DWORD>(address)) : -1;
#ifdef _WIN64
    for (const Stretch& t : stretches) {
        if (address < t.first || address > t.last) continue;
        unsigned __int128 scaled = static_cast<unsigned __int128>(address - t.first) * static_cast<unsigned>(t.rows);
        return t.top + static_cast<int>(scaled / (static_cast<unsigned __int128>(t.last - t.first) + 1));
    }
#endif
    return -1;
}

std::vector<bool> MarkedRows(const std::vector<WalkedRegion>& regions, DWORD state, int rows, size_t from, size_t to) {
    std::vector<Stretch> stretches = MapStretches(regions);
    std::vector<bool> marked(static_cast<size_t>(rows), false);
    size_t index = 0;
    for (const WalkedRegion& r : regions) {
        if (r.state != state) continue;
        if (index++ < from || index > to) continue;
        int first = MapRowIn(stretches, r.base), last = MapRowIn(stretches, r.base + r.size - 1);
        if (stretches.empty()) {
            // Not drawn when its end reaches 2^32; marked to its last 50-byte step.
            if (r.base >= kFourGb || r.base + r.size >= kFourGb) continue;
            last = MapRow(static_cast<DWORD>(r.base + r.size / 50 * 50));
        }
        for (int y = first; y >= 0 && y <= last && y < rows; ++y) marked[static_cast<size_t>(y)] = true;
    }
    return marked;
}

std::vector<bool> BreakRows(const std::vector<WalkedRegion>& regions, int rows) {
    std::vector<bool> breaks(static_cast<size_t>(rows), false);
    std::vector<Stretch> s = MapStretches(regions);
    for (size_t i = 1; i < s.size(); ++i) breaks[static_cast<size_t>(s[i].top - 1)] = breaks[static_cast<size_t>(s[i].top - 2)] = true;
    return breaks;
}

std::string Utf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string s(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1) return std::wstring();
    std::wstring s(static_cast<size_t>(n - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &s[0], n);
    return s;
}
