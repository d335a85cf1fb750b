#include <gtest/gtest.h>

#include "common/class_table.h"

namespace tamsolo {
namespace {

TEST(ClassTable, HoldsTheSevenControlsInOrder) {
  std::vector<std::string> names;
  for (const ClassEntry& c : ClassTable()) names.emplace_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"CaptureCtl", "Keyboard", "Chart", "ChartBar", "QELLogo",
                                             "WorkflowDiagram", "QueryWizard"}));
}

TEST(ClassTable, FindsByClassIdInEveryFormPagesWrite) {
  for (std::string_view text :
       {"clsid:BC779345-11EC-4E18-8171-76CD0A6BAC9A", "CLSID:bc779345-11ec-4e18-8171-76cd0a6bac9a",
        "{BC779345-11EC-4E18-8171-76CD0A6BAC9A}", "clsid:{bc779345-11ec-4e18-8171-76cd0a6bac9a}"}) {
    const ClassEntry* c = FindClassByClsid(text);
    ASSERT_NE(c, nullptr) << text;
    EXPECT_EQ(c->name, "QELLogo");
  }
  EXPECT_EQ(FindClassByClsid("clsid:BC779345-11EC-4E18-8171-76CD0A6BAC9B"), nullptr);
}

TEST(ClassTable, FindsByVersionedAndIndependentProgId) {
  EXPECT_EQ(FindClassByProgId("Tamsolo.QELLogo.2")->name, "QELLogo");
  EXPECT_EQ(FindClassByProgId("tamsolo.chartbar")->name, "ChartBar");
  EXPECT_EQ(FindClassByProgId("Tamsolo.QELLogo.1"), nullptr);
  EXPECT_EQ(FindClassByProgId("Brisquel.Database"), nullptr);
}

TEST(ClassTable, NamesAndRegistryValues) {
  const ClassEntry& diagram = *FindClassByName("WorkflowDiagram");
  EXPECT_EQ(diagram.ProgId(), "Tamsolo.WorkflowDiagram.2");
  EXPECT_EQ(diagram.ClsidKeyProgId(), "Tamsolo.WorkflowDiagram.1");
  EXPECT_EQ(diagram.IndependentProgId(), "Tamsolo.WorkflowDiagram");
  EXPECT_EQ(FindClassByName("Chart")->Description(), "Chart Class");
  EXPECT_EQ(FindClassByName("QELLogo")->Description(), "QELLogo class");
  EXPECT_EQ(FindClassByName("QueryWizard")->ClsidKeyProgId(), "Tamsolo.QueryWizard.2");
}

TEST(ClassTable, InsertableAndInvisibleAtRunTime) {
  for (const ClassEntry& c : ClassTable()) {
    EXPECT_EQ(c.insertable, c.name != "CaptureCtl") << c.name;
    EXPECT_EQ(c.InvisibleAtRuntime(), c.name == "Keyboard") << c.name;
  }
  EXPECT_EQ(FindClassByName("ChartBar")->toolboxBitmap, FindClassByName("QueryWizard")->toolboxBitmap);
  EXPECT_EQ(FindClassByName("Keyboard")->miscStatus, 0x20591u);
  EXPECT_EQ(FindClassByName("CaptureCtl")->eventIid, "{6E8D1328-9E02-4FCF-8B7E-D088E4BB425E}");
}

}  // namespace
}  // namespace tamsolo
