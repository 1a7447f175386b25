// "Converter Setup": installing at the selected place, refusals, removing,
// the buttons each converter allows, the list file it rewrites, and one
// dialog at a time.

#include <QListWidget>

#include "ConverterSetupDialog.h"
#include "DialogTestSupport.h"

using namespace FormgateTest;
using formgate::CConverterSetupDialog;

namespace {

class SetupTest : public DialogTest {
protected:
    void SetUp() override {
        StartUi({"conv_a", "conv_b"},
                "[conv_a.so]\nFlags=0x1F\n[conv_b.so]\nFlags=0x2\n[Settings]\nOpenDir=/keep/\n");
        InstallCopy("conv_script", dir_.path() / "extra" / "conv_new.so");
        InstallCopy("conv_noversion", dir_.path() / "conv_old.so");
    }
    std::vector<std::string> Section() const {
        std::vector<std::string> lines;
        bool in = false;
        for (const std::string& line : ReadLines(Settings())) {
            if (!line.empty() && line[0] == '[')
                in = line == "[Converters]";
            else if (in && !line.empty())
                lines.push_back(line);
        }
        return lines;
    }
    static QStringList Names(CConverterSetupDialog* dialog) {
        QStringList names;
        for (int i = 0; i < dialog->List()->count(); ++i)
            names << dialog->List()->item(i)->text();
        return names;
    }
    static QString Enabled(CConverterSetupDialog* dialog) {
        QString state;
        for (int id : {111, 112, 113, 114})
            state += dialog->findChild<QPushButton*>(QString::number(id))->isEnabled() ? '1' : '0';
        return state;
    }
};

}  // namespace

TEST_F(SetupTest, InstallsAtTheSelectedPlaceAndRewritesTheList) {
    const std::string added = dir_ / "extra/conv_new.so";
    QStringList names;
    QString path, kind, selected;
    WhenShown<CConverterSetupDialog>([&](CConverterSetupDialog* dialog) {
        EXPECT_EQ(dialog->List()->currentRow(), 0);
        EXPECT_EQ(LabelText(dialog, 115).toStdString(), dir_ / "conv_a.so");
        EXPECT_EQ(LabelText(dialog, 104), "Import/Export filter");
        SaveScreenshot(dialog, "formgate_converter_setup");
        dialog->List()->setCurrentRow(1);
        dialog->InstallPath(QString::fromStdString(added));
        names = Names(dialog);
        selected = dialog->List()->currentItem()->text();
        path = LabelText(dialog, 115);
        kind = LabelText(dialog, 104);
        dialog->accept();
    });
    EXPECT_EQ(ImExp_ConfigureConverters(Window()), 1);
    EXPECT_EQ(names, QStringList({"Test conv_a.so", "Test conv_new.so", "Test conv_b.so", ""}));
    EXPECT_EQ(selected, "Test conv_new.so");
    EXPECT_EQ(path.toStdString(), added);
    EXPECT_EQ(kind, "Import/Export filter");
    EXPECT_EQ(Section(), (std::vector<std::string>{"0=" + (dir_ / "conv_a.so"), "1=" + added,
                                                   "2=" + (dir_ / "conv_b.so")}));
    EXPECT_EQ(Platform::IniFile(Settings()).GetString("Settings", "OpenDir"), "/keep/");
    EXPECT_EQ(TheFormgateApp().Registry()->Count(), 3) << "the library uses the new list at once";
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
        EXPECT_EQ(entry.path().filename().string().find("CONVERT.INI."), std::string::npos)
            << "no temporary file left: " << entry.path();
}

TEST_F(SetupTest, RefusalsAreWarningsAndChangeNothing) {
    const std::string old = dir_ / "conv_old.so";
    QStringList texts;
    WhenShown<CConverterSetupDialog>([&](CConverterSetupDialog* dialog) {
        for (const std::string& path : {dir_ / "conv_a.so", old}) {
            auto seen = AnswerMessage(QMessageBox::NoButton,
                                      path == old ? "formgate_setup_unable_to_install" : QString());
            dialog->InstallPath(QString::fromStdString(path));
            texts << seen->text;
            EXPECT_EQ(seen->icon, QMessageBox::Warning);
        }
        dialog->reject();
    });
    const std::string before = ReadText(Settings());
    EXPECT_EQ(ImExp_ConfigureConverters(Window()), 1);
    EXPECT_EQ(texts, QStringList({"Converter already installed",
                                  QString::fromStdString("Unable to install " + old)}));
    EXPECT_EQ(ReadText(Settings()), before);
}

TEST_F(SetupTest, RemoveKeepsThePlaceAndButtonsFollowTheFlags) {
    QStringList states;
    QStringList names;
    int selected = -1;
    WhenShown<CConverterSetupDialog>([&](CConverterSetupDialog* dialog) {
        states << Enabled(dialog);  // conv_a: flags 0x1F
        dialog->List()->setCurrentRow(1);
        states << Enabled(dialog);  // conv_b: flags 2
        dialog->List()->setCurrentRow(2);
        states << Enabled(dialog) + LabelText(dialog, 115) + LabelText(dialog, 104);  // the empty entry
        dialog->List()->setCurrentRow(0);
        dialog->findChild<QPushButton*>("113")->click();
        dialog->findChild<QPushButton*>("114")->click();
        dialog->OnRemove();
        names = Names(dialog);
        selected = dialog->List()->currentRow();
        dialog->accept();
    });
    EXPECT_EQ(ImExp_ConfigureConverters(Window()), 1);
    EXPECT_EQ(states, QStringList({"1111", "1100", "1000"}));
    EXPECT_EQ(LogCountPrefix("conv_a.so ConvSetup"), 1);
    EXPECT_EQ(LogCountPrefix("conv_a.so ConvAbout"), 1);
    EXPECT_EQ(names, QStringList({"Test conv_b.so", ""}));
    EXPECT_EQ(selected, 0);
    EXPECT_EQ(Section(), std::vector<std::string>{"0=" + (dir_ / "conv_b.so")});
    EXPECT_FALSE(AnyConverterMapped());
}

TEST_F(SetupTest, OneDialogAtATime) {
    int second = -1;
    std::shared_ptr<SeenMessage> seen;
    WhenShown<CConverterSetupDialog>([&](CConverterSetupDialog* dialog) {
        seen = AnswerMessage();
        second = ImExp_ConfigureConverters(dialog);
        dialog->reject();
    });
    EXPECT_EQ(ImExp_ConfigureConverters(Window()), 1);
    EXPECT_EQ(second, 0);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->text, "Converter in use by other program");
    EXPECT_EQ(seen->caption, "Converter Error");
}

// Before a write: the set-up of the converter that will write the file, and
// only when it has one; no writer for the name shows nothing.
TEST_F(SetupTest, SetupOfTheWriterForAPath) {
    const struct {
        const char* path;
        int shown;
        int setups;  // of conv_a, which has a set-up box
    } cases[] = {{"picture.tcv", 1, 1}, {"picture.none", 0, 0}, {nullptr, 0, 0}};
    int before = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(ImExp_SetupWriter(nullptr, Window(), c.path), c.shown) << (c.path ? c.path : "null");
        EXPECT_EQ(LogCountPrefix("conv_a.so ConvSetup") - before, c.setups) << (c.path ? c.path : "null");
        before = LogCountPrefix("conv_a.so ConvSetup");
    }
    EXPECT_FALSE(AnyConverterMapped());
}
