// Reads the compiled resource file (resources/morvane.rc built by windres
// into a .res) back and checks every dialog template and control, the icon,
// the version resource and the manifest against the layout the dialog
// procedures are written for. The expected tables are typed out here on
// their own, so a slip in the resource script cannot pass unnoticed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"

#ifndef MORVANE_RES_FILE
#define MORVANE_RES_FILE ""
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// ---- Reading the file ----------------------------------------------------

// A little-endian reader over a block of bytes. Reading past the end marks
// it bad and yields zeros, so a malformed file fails the checks, not the run.
struct Reader {
    const Bytes& data;
    size_t pos = 0;
    size_t end;
    bool bad = false;

    explicit Reader(const Bytes& bytes, size_t from = 0, size_t to = SIZE_MAX)
        : data(bytes), pos(from), end(to < bytes.size() ? to : bytes.size()) {}

    bool Has(size_t n) {
        if (bad || pos > end || end - pos < n) {
            bad = true;
            return false;
        }
        return true;
    }
    uint8_t U8() { return Has(1) ? data[pos++] : 0; }
    uint16_t U16() {
        if (!Has(2)) return 0;
        uint16_t v = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        return v;
    }
    uint32_t U32() {
        uint32_t lo = U16();
        uint32_t hi = U16();
        return lo | hi << 16;
    }
    int16_t I16() { return static_cast<int16_t>(U16()); }
    // Moves to the next multiple of four from the start of the block.
    void Align4() { pos = (pos + 3) & ~static_cast<size_t>(3); }
    // A zero-terminated UTF-16 string.
    std::u16string String() {
        std::u16string s;
        for (uint16_t c = U16(); c != 0 && !bad; c = U16()) s.push_back(static_cast<char16_t>(c));
        return s;
    }
};

// A resource type or name, a template's menu or class, or a control's class
// or text: either a number (after the 0xFFFF marker) or a string.
struct NameOrId {
    bool isId = false;
    uint16_t id = 0;
    std::u16string name;
};

// In a dialog template 0x0000 means "none", read here as an empty string.
NameOrId ReadNameOrId(Reader& r) {
    NameOrId v;
    uint16_t first = r.U16();
    if (first == 0xFFFF) {
        v.isId = true;
        v.id = r.U16();
        return v;
    }
    while (first != 0 && !r.bad) {
        v.name.push_back(static_cast<char16_t>(first));
        first = r.U16();
    }
    return v;
}

struct Resource {
    NameOrId type;
    NameOrId name;
    uint16_t language = 0;
    Bytes data;
};

struct ResFile {
    bool ok = false;
    std::string error;
    std::vector<Resource> resources;
};

ResFile Load(const std::string& path) {
    ResFile file;
    if (path.empty()) {
        file.error = "the resource file was not built (windres missing at configure time)";
        return file;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        file.error = "cannot open " + path;
        return file;
    }
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t pos = 0;
    while (pos < bytes.size()) {
        Reader r(bytes, pos);
        uint32_t dataSize = r.U32();
        uint32_t headerSize = r.U32();
        Resource res;
        res.type = ReadNameOrId(r);
        res.name = ReadNameOrId(r);
        r.Align4();
        r.U32();  // DataVersion
        r.U16();  // MemoryFlags
        res.language = r.U16();
        r.U32();  // Version
        r.U32();  // Characteristics
        size_t dataStart = pos + headerSize;
        if (r.bad || headerSize < 32 || dataStart > bytes.size() ||
            bytes.size() - dataStart < dataSize) {
            file.error = "malformed resource header at offset " + std::to_string(pos);
            return file;
        }
        res.data.assign(bytes.begin() + static_cast<long>(dataStart),
                        bytes.begin() + static_cast<long>(dataStart + dataSize));
        // The file opens with an empty record (type 0, name 0) that marks it
        // as a 32-bit resource file.
        if (!(res.type.isId && res.type.id == 0)) file.resources.push_back(std::move(res));
        pos = (dataStart + dataSize + 3) & ~static_cast<size_t>(3);
    }
    file.ok = true;
    return file;
}

const ResFile& Res() {
    static const ResFile file = Load(MORVANE_RES_FILE);
    return file;
}

const uint16_t kIconType = 3;
const uint16_t kDialogType = 5;
const uint16_t kGroupIconType = 14;
const uint16_t kVersionType = 16;
const uint16_t kManifestType = 24;
const uint16_t kChinesePrc = 2052;

const Resource* Find(uint16_t type, uint16_t name) {
    for (const Resource& r : Res().resources) {
        if (r.type.isId && r.type.id == type && r.name.isId && r.name.id == name) return &r;
    }
    return nullptr;
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string Describe(const NameOrId& v) {
    if (v.isId) return "#" + std::to_string(v.id);
    return "\"" + fake::Utf8(v.name) + "\"";
}

std::string AsciiLower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// ---- Dialog templates ----------------------------------------------------

struct Item {
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    uint32_t id;
    NameOrId windowClass;
    NameOrId title;
    uint16_t extraCount;
};

struct Template {
    uint16_t dlgVer, signature;
    uint32_t helpId, exStyle, style;
    uint16_t count;
    int16_t x, y, cx, cy;
    NameOrId menu, windowClass;
    std::u16string title;
    uint16_t pointSize = 0, weight = 0;
    uint8_t italic = 0, charset = 0;
    std::u16string face;
    std::vector<Item> items;
    bool bad = false;
    size_t unread = 0;  // bytes left after the last item
};

Template ParseTemplate(const Bytes& data) {
    Template t;
    Reader r(data);
    t.dlgVer = r.U16();
    t.signature = r.U16();
    t.helpId = r.U32();
    t.exStyle = r.U32();
    t.style = r.U32();
    t.count = r.U16();
    t.x = r.I16();
    t.y = r.I16();
    t.cx = r.I16();
    t.cy = r.I16();
    t.menu = ReadNameOrId(r);
    t.windowClass = ReadNameOrId(r);
    t.title = r.String();
    if (t.style & 0x40) {  // DS_SETFONT: the font follows the title
        t.pointSize = r.U16();
        t.weight = r.U16();
        t.italic = r.U8();
        t.charset = r.U8();
        t.face = r.String();
    }
    for (uint16_t i = 0; i < t.count && !r.bad; ++i) {
        r.Align4();
        Item item;
        item.helpId = r.U32();
        item.exStyle = r.U32();
        item.style = r.U32();
        item.x = r.I16();
        item.y = r.I16();
        item.cx = r.I16();
        item.cy = r.I16();
        item.id = r.U32();
        item.windowClass = ReadNameOrId(r);
        item.title = ReadNameOrId(r);
        item.extraCount = r.U16();
        if (r.Has(item.extraCount)) r.pos += item.extraCount;
        t.items.push_back(item);
    }
    t.bad = r.bad;
    t.unread = r.pos <= data.size() ? data.size() - r.pos : 0;
    return t;
}

// Control styles by the short names the layout uses.
const uint32_t kGroup = 0x50000007;
const uint32_t kLabel = 0x50020000;
const uint32_t kOutC = 0x50010881;
const uint32_t kOutL = 0x50010880;
const uint32_t kIn = 0x50010080;
const uint32_t kButton = 0x50018000;
const uint32_t kDefault = 0x50018001;
const uint32_t kGauge = 0x50800005;
const uint32_t kList = 0x50210101;
const uint32_t kListB = 0x50A10101;
// The lists whose lines can be copied: keys for the dialog, and extended
// selection where a list only shows.
const uint32_t kListKeys = kList | 0x0400;
const uint32_t kListMany = kListKeys | 0x0800;
const uint32_t kListBMany = kListB | 0x0C00;

// The predefined classes by atom; 0 where the class is named.
const uint16_t kButtonClass = 0x0080;
const uint16_t kEditClass = 0x0081;
const uint16_t kStaticClass = 0x0082;
const uint16_t kListBoxClass = 0x0083;
const uint16_t kNamed = 0;

struct ExpectedControl {
    int32_t id;
    uint16_t atom;
    const char* className;  // when atom is kNamed
    const char* text;
    uint32_t style;
    int16_t x, y, cx, cy;
};

struct ExpectedTemplate {
    uint16_t number;
    const char* title;
    int16_t cx, cy;
    std::vector<ExpectedControl> controls;
    uint32_t style = 0x80C800C8;
};

const ExpectedTemplate kMainWindow = {131, "Morvane by Quorvid", 288, 194, {
    {-1, kButtonClass, nullptr, "系统全局状态", kGroup, 3, 3, 281, 102},
    {-1, kStaticClass, nullptr, "内存使用率", kLabel, 11, 15, 40, 11},
    {-1, kStaticClass, nullptr, "总物理内存大小", kLabel, 11, 25, 58, 11},
    {-1, kStaticClass, nullptr, "可用物理内存大小", kLabel, 11, 35, 66, 11},
    {-1, kStaticClass, nullptr, "总页面文件大小", kLabel, 11, 45, 58, 11},
    {-1, kStaticClass, nullptr, "可用页面大小", kLabel, 11, 55, 50, 11},
    {-1, kStaticClass, nullptr, "进程总共用户模式虚拟内存大小", kLabel, 11, 65, 115, 11},
    {-1, kStaticClass, nullptr, "进程可用用户模式虚拟内存大小", kLabel, 11, 76, 114, 11},
    {1005, kEditClass, nullptr, "", kOutC, 132, 15, 144, 12},
    {1006, kEditClass, nullptr, "", kOutC, 132, 25, 144, 12},
    {1007, kEditClass, nullptr, "", kOutC, 132, 35, 144, 12},
    {1008, kEditClass, nullptr, "", kOutC, 132, 45, 144, 12},
    {1009, kEditClass, nullptr, "", kOutC, 132, 56, 144, 12},
    {1010, kEditClass, nullptr, "", kOutC, 132, 67, 144, 12},
    {1011, kEditClass, nullptr, "", kOutC, 132, 78, 144, 12},
    {1012, kEditClass, nullptr, "", kOutC, 132, 88, 144, 12},
    {-1, kStaticClass, nullptr, "进程可用扩展虚拟内存大小", kLabel, 11, 88, 96, 11},
    {1013, kButtonClass, nullptr, "显示详细进程信息", kButton, 85, 126, 200, 23},
    {1021, kButtonClass, nullptr, "关于", kButton, 86, 163, 199, 21},
    {-1, kStaticClass, nullptr, "当前系统时间:", kLabel, 12, 112, 53, 11},
    {1023, kEditClass, nullptr, "", kOutL, 13, 123, 9, 12},
    {-1, kStaticClass, nullptr, ":", kLabel, 25, 123, 8, 11},
    {1024, kEditClass, nullptr, "", kOutL, 30, 123, 10, 12},
    {-1, kStaticClass, nullptr, ":", kLabel, 42, 123, 8, 11},
    {1025, kEditClass, nullptr, "", kOutL, 47, 123, 10, 12},
    {-1, kStaticClass, nullptr, "内存使用率:", kLabel, 12, 134, 44, 11},
    {1026, kNamed, "msctls_progress32", "", kGauge, 13, 148, 33, 37},
}};

const ExpectedTemplate kQueryDialog = {132, "进程详细信息", 172, 24, {
    {-1, kStaticClass, nullptr, "PID", kLabel, 4, 4, 13, 8},
    {1005, kEditClass, nullptr, "", kIn, 19, 4, 63, 12},
    {1013, kButtonClass, nullptr, "查询", kButton, 86, 4, 35, 12},
    {1040, kButtonClass, nullptr, "进程列表", kButton, 125, 4, 44, 12},
}};

const ExpectedTemplate kProcessListDialog = {150, "选择进程", 240, 214, {
    {1020, kListBoxClass, nullptr, "", kListB | 0x0400, 0, 0, 240, 194},
    {1041, kButtonClass, nullptr, "刷新", kButton, 4, 198, 50, 14},
    {1, kButtonClass, nullptr, "确定", kDefault, 186, 198, 50, 14},
}};

const ExpectedTemplate kProcessMemoryDialog = {135, "进程虚拟内存信息", 606, 306, {
    {1020, kListBoxClass, nullptr, "", kListMany, 0, 0, 369, 72},
    {1021, kListBoxClass, nullptr, "", kListMany, 0, 75, 369, 208},
    {1, kButtonClass, nullptr, "刷新", kButton, 406, 288, 165, 16},
    {-1, kStaticClass, nullptr, "已调拨", kLabel, 423, 264, 26, 8},
    {-1, kStaticClass, nullptr, "已预订", kLabel, 537, 264, 26, 8},
    {1060, kStaticClass, nullptr, "", kLabel, 380, 1, 214, 9},
    {1028, kButtonClass, nullptr, "查看堆信息", kButton, 4, 287, 161, 16},
    {1031, kButtonClass, nullptr, "查看模块信息", kButton, 199, 287, 161, 16},
    {1032, kButtonClass, nullptr, "查看内存用途", kButton, 453, 261, 80, 14},
}};

// Resizable (WS_THICKFRAME | WS_MAXIMIZEBOX, no modal frame); virtual report
// list views of one selected row and of many.
// The strip is owner-drawn (SS_OWNERDRAW | WS_BORDER), the two check boxes
// check themselves (BS_AUTOCHECKBOX).
const ExpectedTemplate kUsesDialog = {155, "内存用途", 600, 330, {
    {1054, kStaticClass, nullptr, "", kLabel, 4, 2, 592, 9},
    {1050, kNamed, "syslistview32", "", 0x5081100D, 0, 13, 448, 86},
    {1059, kStaticClass, nullptr, "", 0x5080000D, 452, 13, 144, 74},
    {1061, kStaticClass, nullptr, "", kLabel, 452, 89, 144, 9},
    {1051, kNamed, "syslistview32", "", 0x50811009, 0, 103, 600, 196},
    {1052, kStaticClass, nullptr, "", kLabel, 4, 302, 592, 9},
    {1055, kButtonClass, nullptr, "刷新", kButton, 4, 314, 50, 14},
    {1056, kButtonClass, nullptr, "设为基准", kButton, 58, 314, 50, 14},
    {1057, kButtonClass, nullptr, "只看变化", 0x50010003, 116, 314, 50, 14},
    {1058, kButtonClass, nullptr, "自动刷新", 0x50010003, 170, 314, 50, 14},
    {1053, kButtonClass, nullptr, "查看内容", kButton, 546, 314, 50, 14},
}, 0x80CD0048};

// Resizable; edit boxes with a border, a check box, two virtual report list
// views of many rows.
const uint32_t kInB = kIn | 0x00800000;
const ExpectedTemplate kContentsDialog = {160, "内存内容", 600, 320, {
    {1073, kEditClass, nullptr, "", kInB, 4, 4, 120, 12},
    {1075, kButtonClass, nullptr, "十六进制字节", 0x50010003, 128, 5, 60, 10},
    {1074, kButtonClass, nullptr, "查找", kDefault, 192, 3, 40, 14},
    {1076, kEditClass, nullptr, "", kInB, 244, 4, 80, 12},
    {1077, kButtonClass, nullptr, "转到", kButton, 328, 3, 40, 14},
    {1078, kButtonClass, nullptr, "刷新", kButton, 380, 3, 40, 14},
    {1081, kStaticClass, nullptr, "", kLabel, 430, 6, 166, 9},
    {-1, kStaticClass, nullptr, "最短", kLabel, 364, 22, 18, 9},
    {1079, kEditClass, nullptr, "", kInB, 384, 20, 20, 12},
    {-1, kStaticClass, nullptr, "筛选", kLabel, 410, 22, 18, 9},
    {1080, kEditClass, nullptr, "", kInB, 430, 20, 166, 12},
    {1070, kNamed, "syslistview32", "", 0x50811009, 0, 36, 360, 268},
    {1071, kNamed, "syslistview32", "", 0x50811009, 364, 36, 236, 268},
    {1072, kStaticClass, nullptr, "", kLabel, 4, 307, 592, 9},
}, 0x80CD0048};

const ExpectedTemplate kHeapDialog = {141, "堆信息", 293, 163, {
    {1, kButtonClass, nullptr, "刷新", kDefault, 239, 147, 50, 14},
    {1020, kListBoxClass, nullptr, "", kListKeys, 0, 0, 119, 145},
    {1021, kListBoxClass, nullptr, "", kListMany, 125, 0, 167, 145},
}};

const ExpectedTemplate kModuleDialog = {145, "模块信息", 393, 216, {
    {1, kButtonClass, nullptr, "刷新", kDefault, 343, 200, 50, 14},
    {1020, kListBoxClass, nullptr, "", kListBMany, 0, 0, 393, 196},
}};

void CheckTemplate(const ExpectedTemplate& layout) {
    ASSERT_TRUE(Res().ok) << Res().error;
    const Resource* res = Find(kDialogType, layout.number);
    ASSERT_NE(res, nullptr) << "no dialog template " << layout.number;
    EXPECT_EQ(kChinesePrc, res->language);

    Template t = ParseTemplate(res->data);
    ASSERT_FALSE(t.bad) << "template " << layout.number << " ends before its last control";
    EXPECT_LT(t.unread, 4u) << "bytes after the last control";
    EXPECT_EQ(1, t.dlgVer);
    EXPECT_EQ(0xFFFF, t.signature) << "not an extended template";
    EXPECT_EQ(0u, t.helpId);
    EXPECT_EQ(Hex(0), Hex(t.exStyle));
    EXPECT_EQ(Hex(layout.style), Hex(t.style));
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(layout.cx, t.cx);
    EXPECT_EQ(layout.cy, t.cy);
    EXPECT_EQ("\"\"", Describe(t.menu)) << "a menu";
    EXPECT_EQ("\"\"", Describe(t.windowClass)) << "a private dialog class";
    EXPECT_EQ(layout.title, fake::Utf8(t.title));
    EXPECT_EQ(8, t.pointSize);
    EXPECT_EQ(400, t.weight);
    EXPECT_EQ(0, t.italic);
    EXPECT_EQ(1, t.charset);
    EXPECT_EQ("MS Shell Dlg", fake::Utf8(t.face));

    ASSERT_EQ(layout.controls.size(), t.items.size()) << "control count";
    for (size_t i = 0; i < layout.controls.size(); ++i) {
        const ExpectedControl& want = layout.controls[i];
        const Item& got = t.items[i];
        SCOPED_TRACE("template " + std::to_string(layout.number) + ", control " +
                     std::to_string(i + 1) + " (number " + std::to_string(want.id) + ")");
        EXPECT_EQ(static_cast<uint32_t>(want.id), got.id);
        if (want.atom != kNamed) {
            EXPECT_EQ("#" + std::to_string(want.atom), Describe(got.windowClass)) << "class";
        } else {
            // Window classes are matched without regard to case, and windres
            // writes named classes in capitals.
            EXPECT_FALSE(got.windowClass.isId) << "class";
            EXPECT_EQ(want.className, AsciiLower(fake::Utf8(got.windowClass.name))) << "class";
        }
        EXPECT_EQ("\"" + std::string(want.text) + "\"", Describe(got.title)) << "text";
        EXPECT_EQ(Hex(want.style), Hex(got.style)) << "style";
        EXPECT_EQ(Hex(0), Hex(got.exStyle)) << "extended style";
        EXPECT_EQ(0u, got.helpId);
        EXPECT_EQ(want.x, got.x) << "x";
        EXPECT_EQ(want.y, got.y) << "y";
        EXPECT_EQ(want.cx, got.cx) << "width";
        EXPECT_EQ(want.cy, got.cy) << "height";
        EXPECT_EQ(0, got.extraCount) << "creation data";
    }
}

TEST(DialogTemplates, MainWindowLayout) { CheckTemplate(kMainWindow); }
TEST(DialogTemplates, QueryDialogLayout) { CheckTemplate(kQueryDialog); }
TEST(DialogTemplates, ProcessMemoryDialogLayout) { CheckTemplate(kProcessMemoryDialog); }
TEST(DialogTemplates, HeapDialogLayout) { CheckTemplate(kHeapDialog); }
TEST(DialogTemplates, ModuleDialogLayout) { CheckTemplate(kModuleDialog); }
TEST(DialogTemplates, ProcessListDialogLayout) { CheckTemplate(kProcessListDialog); }
TEST(DialogTemplates, UsesDialogLayout) { CheckTemplate(kUsesDialog); }
TEST(DialogTemplates, ContentsDialogLayout) { CheckTemplate(kContentsDialog); }

// The parser itself, on a template built by hand: a wrong offset anywhere
// would shift every later field.
TEST(DialogTemplates, ParserReadsAHandBuiltTemplate) {
    Bytes b;
    auto u16 = [&](uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    auto str = [&](const std::u16string& s) {
        for (char16_t c : s) u16(c);
        u16(0);
    };
    u16(1); u16(0xFFFF); u32(0); u32(0); u32(0x80C800C8); u16(2);
    u16(0); u16(0); u16(50); u16(20);
    u16(0); u16(0); str(u"T");
    u16(9); u16(700); b.push_back(1); b.push_back(134); str(u"F");
    while (b.size() % 4) b.push_back(0);
    u32(0); u32(0); u32(0x50000000); u16(1); u16(2); u16(3); u16(4); u32(77);
    u16(0xFFFF); u16(0x0082); str(u"ab"); u16(0);
    while (b.size() % 4) b.push_back(0);
    u32(0); u32(0x200); u32(0x50000001); u16(5); u16(6); u16(7); u16(8); u32(0xFFFFFFFF);
    str(u"x_y"); u16(0xFFFF); u16(138); u16(2); u16(0xAAAA);

    Template t = ParseTemplate(b);
    ASSERT_FALSE(t.bad);
    EXPECT_EQ(0u, t.unread);
    EXPECT_EQ("T", fake::Utf8(t.title));
    EXPECT_EQ(9, t.pointSize);
    EXPECT_EQ(700, t.weight);
    EXPECT_EQ(1, t.italic);
    EXPECT_EQ(134, t.charset);
    EXPECT_EQ("F", fake::Utf8(t.face));
    ASSERT_EQ(2u, t.items.size());
    EXPECT_EQ(77u, t.items[0].id);
    EXPECT_EQ("#130", Describe(t.items[0].windowClass));
    EXPECT_EQ("\"ab\"", Describe(t.items[0].title));
    EXPECT_EQ(4, t.items[0].cy);
    EXPECT_EQ(Hex(0x200), Hex(t.items[1].exStyle));
    EXPECT_EQ(0xFFFFFFFFu, t.items[1].id);
    EXPECT_EQ("\"x_y\"", Describe(t.items[1].windowClass));
    EXPECT_EQ("#138", Describe(t.items[1].title));
    EXPECT_EQ(2, t.items[1].extraCount);

    b.resize(b.size() - 6);  // cut into the last control
    EXPECT_TRUE(ParseTemplate(b).bad);
}

// ---- The file as a whole -------------------------------------------------

TEST(ResourceFile, HoldsTheProgramsResourcesAndNoOthers) {
    ASSERT_TRUE(Res().ok) << Res().error;
    std::set<std::string> got;
    for (const Resource& r : Res().resources) {
        got.insert("type " + Describe(r.type) + " name " + Describe(r.name) +
                   " language " + std::to_string(r.language));
    }
    const std::set<std::string> want = {
        "type #5 name #131 language 2052",  "type #5 name #132 language 2052",
        "type #5 name #135 language 2052",  "type #5 name #141 language 2052",
        "type #5 name #145 language 2052",  "type #5 name #150 language 2052",
        "type #5 name #155 language 2052",  "type #5 name #160 language 2052",
        "type #3 name #1 language 2052",
        "type #14 name #138 language 2052", "type #16 name #1 language 2052",
        "type #24 name #1 language 2052",
    };
    EXPECT_EQ(want, got);
    EXPECT_EQ(want.size(), Res().resources.size()) << "a resource appears twice";
}

// ---- Icon ----------------------------------------------------------------

TEST(Icon, GroupHoldsOne32By32SixteenColourImage) {
    ASSERT_TRUE(Res().ok) << Res().error;
    const Resource* group = Find(kGroupIconType, 138);
    ASSERT_NE(group, nullptr) << "no icon group 138";
    Reader g(group->data);
    EXPECT_EQ(0, g.U16());
    EXPECT_EQ(1, g.U16()) << "not an icon group";
    EXPECT_EQ(1, g.U16()) << "image count";
    EXPECT_EQ(32, g.U8()) << "width";
    EXPECT_EQ(32, g.U8()) << "height";
    EXPECT_EQ(16, g.U8()) << "colour count";
    EXPECT_EQ(0, g.U8());
    EXPECT_EQ(1, g.U16()) << "planes";
    EXPECT_EQ(4, g.U16()) << "bits per pixel";
    uint32_t bytesInRes = g.U32();
    uint16_t imageId = g.U16();
    ASSERT_FALSE(g.bad);
    EXPECT_EQ(1, imageId);

    const Resource* image = Find(kIconType, imageId);
    ASSERT_NE(image, nullptr) << "no icon image " << imageId;
    EXPECT_EQ(bytesInRes, image->data.size());
    // BITMAPINFOHEADER, 16 palette entries, the 4 bpp colour rows and the
    // 1 bpp mask rows.
    ASSERT_EQ(40u + 16 * 4 + 32 * 16 + 32 * 4, image->data.size());
    Reader h(image->data);
    EXPECT_EQ(40u, h.U32());
    EXPECT_EQ(32u, h.U32()) << "width";
    EXPECT_EQ(64u, h.U32()) << "height of colour image and mask";
    EXPECT_EQ(1, h.U16()) << "planes";
    EXPECT_EQ(4, h.U16()) << "bits per pixel";
    EXPECT_EQ(0u, h.U32()) << "compressed";

    // A real picture: some pixels transparent, the others in several colours.
    const size_t colours = 40 + 16 * 4;
    const size_t mask = colours + 32 * 16;
    int transparent = 0;
    std::set<int> used;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            bool clear = image->data[mask + y * 4 + x / 8] & (0x80 >> (x % 8));
            if (clear) {
                ++transparent;
                continue;
            }
            uint8_t pair = image->data[colours + y * 16 + x / 2];
            used.insert(x % 2 ? pair & 0x0F : pair >> 4);
        }
    }
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 32 * 32 / 2) << "mostly transparent";
    EXPECT_GE(used.size(), 4u) << "colours used";
}

// ---- Version -------------------------------------------------------------

// One node of the version tree: key, value and children.
struct VersionNode {
    std::u16string key;
    uint16_t type = 0;
    Bytes value;
    std::vector<VersionNode> children;
};

bool ParseVersionNode(const Bytes& data, size_t at, size_t limit, VersionNode& node) {
    Reader r(data, at, limit);
    uint16_t length = r.U16();
    uint16_t valueLength = r.U16();
    node.type = r.U16();
    node.key = r.String();
    r.Align4();
    if (r.bad || length < 6 || length > limit - at) return false;
    size_t end = at + length;
    size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
    if (valueBytes > end - std::min(r.pos, end)) return false;
    node.value.assign(data.begin() + static_cast<long>(r.pos),
                      data.begin() + static_cast<long>(r.pos + valueBytes));
    size_t pos = (r.pos + valueBytes + 3) & ~static_cast<size_t>(3);
    while (pos + 6 <= end) {
        VersionNode child;
        if (!ParseVersionNode(data, pos, end, child)) return false;
        Reader peek(data, pos, end);
        size_t childLength = peek.U16();
        node.children.push_back(std::move(child));
        pos = (pos + childLength + 3) & ~static_cast<size_t>(3);
    }
    return true;
}

const VersionNode* Child(const VersionNode& node, const std::string& key) {
    for (const VersionNode& c : node.children) {
        if (fake::Utf8(c.key) == key) return &c;
    }
    return nullptr;
}

std::string TextValue(const VersionNode& node) {
    std::u16string s;
    for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
        char16_t c = static_cast<char16_t>(node.value[i] | node.value[i + 1] << 8);
        if (c == 0) break;
        s.push_back(c);
    }
    return fake::Utf8(s);
}

#ifndef MORVANE_SOURCE_DIR
#define MORVANE_SOURCE_DIR "."
#endif

// The first line that starts with prefix in a file at the top of the
// sources, without its line end and trailing blanks; empty when there is none.
std::string FirstLine(const std::string& name, const std::string& prefix = "") {
    std::ifstream in(std::string(MORVANE_SOURCE_DIR) + "/" + name);
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0) return line;
    }
    return "";
}

TEST(Version, NumbersAndTextsAreTheVersionFileInChinesePrc) {
    // "MAJOR.MINOR.PATCH", the fourth number 0.
    const std::string versionText = FirstLine("VERSION");
    unsigned n[3] = {};
    ASSERT_EQ(3, std::sscanf(versionText.c_str(), "%u.%u.%u", &n[0], &n[1], &n[2])) << "VERSION: " << versionText;
    ASSERT_TRUE(Res().ok) << Res().error;
    const Resource* res = Find(kVersionType, 1);
    ASSERT_NE(res, nullptr) << "no version resource";
    EXPECT_EQ(kChinesePrc, res->language);

    VersionNode root;
    ASSERT_TRUE(ParseVersionNode(res->data, 0, res->data.size(), root)) << "malformed version tree";
    EXPECT_EQ("VS_VERSION_INFO", fake::Utf8(root.key));
    ASSERT_EQ(52u, root.value.size()) << "VS_FIXEDFILEINFO";
    Reader fixed(root.value);
    EXPECT_EQ(Hex(0xFEEF04BD), Hex(fixed.U32())) << "signature";
    fixed.U32();  // structure version
    const uint32_t high = n[0] << 16 | n[1], low = n[2] << 16;
    EXPECT_EQ(Hex(high), Hex(fixed.U32())) << "file version, high part";
    EXPECT_EQ(Hex(low), Hex(fixed.U32())) << "file version, low part";
    EXPECT_EQ(Hex(high), Hex(fixed.U32())) << "product version, high part";
    EXPECT_EQ(Hex(low), Hex(fixed.U32())) << "product version, low part";

    const VersionNode* strings = Child(root, "StringFileInfo");
    ASSERT_NE(strings, nullptr);
    ASSERT_EQ(1u, strings->children.size());
    const VersionNode& table = strings->children[0];
    EXPECT_EQ("080404b0", fake::Utf8(table.key)) << "Chinese (PRC), UTF-16";
    for (const char* key : {"FileVersion", "ProductVersion"}) {
        const VersionNode* v = Child(table, key);
        ASSERT_NE(v, nullptr) << key;
        EXPECT_EQ(versionText, TextValue(*v)) << key;
    }
    // The copyright is the licence's.
    const VersionNode* copyright = Child(table, "LegalCopyright");
    ASSERT_NE(copyright, nullptr);
    EXPECT_EQ(FirstLine("LICENSE", "Copyright "), TextValue(*copyright));
    EXPECT_NE(std::string::npos, TextValue(*copyright).find("the Morvane authors"));
    const VersionNode* product = Child(table, "ProductName");
    ASSERT_NE(product, nullptr);
    EXPECT_EQ("Morvane", TextValue(*product));
    const VersionNode* description = Child(table, "FileDescription");
    ASSERT_NE(description, nullptr);
    EXPECT_NE("", TextValue(*description));

    const VersionNode* vars = Child(root, "VarFileInfo");
    ASSERT_NE(vars, nullptr);
    const VersionNode* translation = Child(*vars, "Translation");
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(4u, translation->value.size());
    Reader tr(translation->value);
    EXPECT_EQ(Hex(0x0804), Hex(tr.U16())) << "language";
    EXPECT_EQ(1200, tr.U16()) << "code page";
}

// ---- Manifest ------------------------------------------------------------

TEST(Manifest, NamesTheProgramAndNoDependency) {
    ASSERT_TRUE(Res().ok) << Res().error;
    const Resource* res = Find(kManifestType, 1);
    ASSERT_NE(res, nullptr) << "no manifest 1";
    std::string xml(res->data.begin(), res->data.end());
    EXPECT_EQ(0u, xml.find("<?xml")) << xml;
    EXPECT_NE(std::string::npos, xml.find("<assembly ")) << xml;
    EXPECT_NE(std::string::npos, xml.find("manifestVersion=\"1.0\"")) << xml;
    EXPECT_NE(std::string::npos, xml.find("<assemblyIdentity ")) << xml;
    EXPECT_NE(std::string::npos, xml.find("version=\"0.0.0.1\"")) << xml;
    EXPECT_NE(std::string::npos, xml.find("</assembly>")) << xml;
    // A dependency on an assembly that is not installed stops the program
    // from starting; version 6 of the common controls or an execution level
    // would change how the controls draw or how the program is started.
    EXPECT_EQ(std::string::npos, xml.find("dependency")) << xml;
    EXPECT_EQ(std::string::npos, xml.find("Common-Controls")) << xml;
    EXPECT_EQ(std::string::npos, xml.find("requestedExecutionLevel")) << xml;
    EXPECT_EQ(std::string::npos, xml.find("trustInfo")) << xml;
}

}  // namespace
