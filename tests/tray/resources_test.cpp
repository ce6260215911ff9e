// The program's resource script as the simulated machine reads it: the
// dialogs, menu, string and icons the program shows, and the forms of script
// the reader must understand.
#include "sim_fixture.h"
#include "shell/resource.h"

#include <cstdio>
#include <fstream>

namespace {

using ResourceScriptTest = SimTest;

struct Control {
    const char* className;
    const char* text;
    int id;
    DWORD style; // exactly, WS_CHILD | WS_VISIBLE included
    int x, y, cx, cy;
};

struct Dialog {
    WORD id;
    const char* caption;
    DWORD style;
    DWORD exStyle;
    int cx, cy;
    int pointSize;
    std::vector<Control> controls;
};

constexpr DWORD kWindow = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP;

TEST_F(ResourceScriptTest, DialogsAreAsTheProgramShowsThem) {
    const Dialog dialogs[] = {
        {IDD_CARDWELL_DIALOG, "Cardwell", kWindow, WS_EX_APPWINDOW, 67, 107, 9,
         {{"Button", "Button1", IDC_MAIN_BUTTON1, kButton | BS_DEFPUSHBUTTON, 7, 7, 41, 15},
          {"Button", "Button2", IDC_MAIN_BUTTON2, kButton, 7, 31, 44, 15},
          {"Button", "Button3", IDC_MAIN_BUTTON3, kButton, 7, 57, 46, 15},
          {"Button", "Button4", IDC_MAIN_BUTTON4, kButton, 7, 83, 48, 16}}},
        {IDD_ABOUTBOX, "About Halvex Cardwell", kWindow, 0, 235, 55, 9,
         {{"Static", "128", IDC_STATIC, WS_CHILD | WS_VISIBLE | SS_ICON, 11, 17, 20, 20},
          {"Static", "Halvex Cardwell 1.0.", IDC_STATIC, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_NOPREFIX, 40, 10, 119,
           8},
          {"Button", "OK", IDOK, kButton | BS_DEFPUSHBUTTON, 178, 7, 50, 14}}},
        // The listener's window, as it always was.
        {IDD_DIALOG_SDIO, "IDD_DIALOG_SDIO", kWindow, 0, 61, 36, 10,
         {{"Button", "Button1", IDC_BUTTON1, kButton | BS_DEFPUSHBUTTON, 7, 7, 44, 17}}},
    };
    for (const Dialog& d : dialogs) {
        SCOPED_TRACE(d.id);
        auto t = machine->windows().dialogTemplate(d.id);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->caption, d.caption);
        EXPECT_EQ(t->style, d.style);
        EXPECT_EQ(t->exStyle, d.exStyle);
        EXPECT_EQ(t->x, 0);
        EXPECT_EQ(t->y, 0);
        EXPECT_EQ(t->cx, d.cx);
        EXPECT_EQ(t->cy, d.cy);
        EXPECT_EQ(t->pointSize, d.pointSize);
        ASSERT_EQ(t->controls.size(), d.controls.size());
        for (std::size_t i = 0; i < d.controls.size(); ++i) {
            SCOPED_TRACE(i);
            const Control& want = d.controls[i];
            const sim::ControlTemplate& got = t->controls[i];
            EXPECT_EQ(got.className, want.className);
            EXPECT_EQ(got.text, want.text);
            EXPECT_EQ(got.id, want.id);
            EXPECT_EQ(got.style, want.style);
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
            EXPECT_EQ(got.cx, want.cx);
            EXPECT_EQ(got.cy, want.cy);
        }
    }
}

TEST_F(ResourceScriptTest, TrayMenuStringAndIcons) {
    auto menu = machine->resources().menu(IDR_TRAY_MENU);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->size(), 1u);
    const sim::MenuTemplateItem& popup = (*menu)[0];
    EXPECT_EQ(popup.text, "popup");
    EXPECT_EQ(popup.flags, static_cast<UINT>(MF_POPUP));
    ASSERT_EQ(popup.children.size(), 3u);
    EXPECT_EQ(popup.children[0].text, "Exit");
    EXPECT_EQ(popup.children[0].id, static_cast<UINT>(ID_TRAY_EXIT));
    EXPECT_EQ(popup.children[1].flags, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(popup.children[2].text, "About");
    EXPECT_EQ(popup.children[2].id, static_cast<UINT>(ID_TRAY_ABOUT));

    EXPECT_EQ(machine->resources().string(IDS_ABOUTBOX), std::optional<std::string>("About Cardwell(&A)..."));
    EXPECT_TRUE(machine->resources().hasIcon(IDR_MAINFRAME));
    EXPECT_TRUE(machine->resources().hasIcon(IDI_TRAY));
    EXPECT_FALSE(machine->resources().hasIcon(129));
}

// A script in the other forms resource scripts take.
class ScriptFormsTest : public ::testing::Test {
protected:
    void load(const std::string& script) {
        path = ::testing::TempDir() + "forms_test.rc";
        std::ofstream(path) << script;
        machine.reset();
        machine = std::make_unique<sim::Machine>();
        sim::loadResourceScript(*machine, path);
    }
    void TearDown() override {
        machine.reset();
        std::remove(path.c_str());
    }
    std::string path;
    std::unique_ptr<sim::Machine> machine;
};

TEST_F(ScriptFormsTest, ReadsMenuExControlsContinuationsAndSkipsVersionBlocks) {
    load(R"rc(#define IDD_X 7
#define IDM_X 8
#define IDC_X (-1)
1 VERSIONINFO
 FILEVERSION 1,0,0,7
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        VALUE "FileDescription", "x\0"
    END
END
IDD_X DIALOG 10, 20, 30, 40 // a comment, "quoted"
STYLE WS_POPUP |
      WS_CAPTION
CAPTION "Say ""hi"""
BEGIN
    PUSHBUTTON "A",IDC_X,1,2,3,4,NOT WS_TABSTOP
    CONTROL "B",5,"Button",WS_TABSTOP | 0x1,1,2,
            3,4
    CTEXT "C",6,1,2,3,4
END
IDM_X MENUEX
BEGIN
    POPUP "P", 0, 0, 0
    BEGIN
        MENUITEM "One", 11, 0, 0
        MENUITEM "", 0, 0x800, 0
        MENUITEM "Two", 12, 0, 0
    END
END
STRINGTABLE
BEGIN
    300, "x\ty"
END
)rc");
    auto d = machine->windows().dialogTemplate(7);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->caption, "Say \"hi\"");
    EXPECT_EQ(d->style, static_cast<DWORD>(WS_POPUP | WS_CAPTION));
    EXPECT_EQ(d->x, 10);
    EXPECT_EQ(d->cy, 40);
    ASSERT_EQ(d->controls.size(), 3u);
    EXPECT_EQ(d->controls[0].style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE)) << "NOT takes a default away";
    EXPECT_EQ(d->controls[0].id, -1);
    EXPECT_EQ(d->controls[1].className, "Button");
    EXPECT_EQ(d->controls[1].style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_TABSTOP | 1));
    EXPECT_EQ(d->controls[1].cy, 4);
    EXPECT_EQ(d->controls[2].style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER));

    auto menu = machine->resources().menu(8);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->at(0).children.size(), 3u);
    EXPECT_EQ(menu->at(0).children[1].flags, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(menu->at(0).children[2].id, 12u);
    EXPECT_EQ(machine->resources().string(300), std::optional<std::string>("x\ty"));
    EXPECT_FALSE(machine->resources().hasIcon(1)) << "the version block is not an icon";
}

TEST_F(ScriptFormsTest, UnknownNamesAreRefused) {
    const char* scripts[] = {
        "1 DIALOG 0, 0, 1, 1\nSTYLE WS_POPUP | WS_NOT_A_STYLE\nBEGIN\nEND\n",
        "1 DIALOG 0, 0, 1, 1\nBEGIN\n    PUSHBUTTON \"A\",IDC_UNDEFINED,1,2,3,4\nEND\n",
        "1 DIALOG 0, 0, 1, 1\nBEGIN\n    SLIDER \"A\",1,1,2,3,4\nEND\n",
        "1 MENU\nBEGIN\n    MENUITEM \"A\", ID_UNDEFINED\nEND\n",
    };
    for (const char* s : scripts) {
        SCOPED_TRACE(s);
        EXPECT_THROW(load(s), std::runtime_error);
        machine.reset();
    }
}

} // namespace
