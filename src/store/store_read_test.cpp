#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "loomreg_store.h"
#include "test_support.h"

namespace loomreg {
namespace {

namespace fs = std::filesystem;

// What a case puts into the store below ../kvrdata/ before the call.
struct Plant {
  enum Kind { kText, kLink, kFifo, kDirectory } kind;
  std::string path;
  std::string text;  // the content; for a link, the target
};

enum class Call { kMachines, kStyles, kMachineFiles, kStyleFiles, kHistory, kStamp, kOpen, kHas };

struct Case {
  const char* what;
  std::vector<Plant> plants;
  Call call;
  std::string arg;   // the machine or style; the history's line count
  std::string name;  // the file name of kOpen and kHas
  LoomregStoreResult want;
  std::vector<std::string> texts;  // the words, lines, stamp line or file content returned
  std::string last_path;
};

// A file outside the store that every planted link points at: its words must never show.
const std::string kOutside = "outside-1 outside-2\r\n";

std::vector<std::string> Texts(const LoomregStoreList& list) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < list.count; ++i) {
    EXPECT_EQ(list.items[i].text[list.items[i].length], '\0');
    texts.emplace_back(list.items[i].text, list.items[i].length);
  }
  return texts;
}

LoomregStoreResult RunCall(LoomregStore* store, const Case& c, std::vector<std::string>& texts) {
  LoomregStoreList list{};
  LoomregStoreResult result = LOOMREG_STORE_OK;
  switch (c.call) {
    case Call::kMachines:
      result = LoomregStoreMachines(store, &list);
      break;
    case Call::kStyles:
      result = LoomregStoreStyles(store, &list);
      break;
    case Call::kMachineFiles:
      result = LoomregStoreMachineFiles(store, c.arg.c_str(), &list);
      break;
    case Call::kStyleFiles:
      result = LoomregStoreStyleFiles(store, c.arg.c_str(), &list);
      break;
    case Call::kHistory:
      result = LoomregStoreHistory(store, std::stoul(c.arg), &list);
      break;
    case Call::kStamp: {
      char* line = reinterpret_cast<char*>(1);
      result = LoomregStoreMachineStamp(store, c.arg.c_str(), &line);
      if (line != nullptr) texts.emplace_back(line);
      EXPECT_TRUE(result == LOOMREG_STORE_OK || line == nullptr);
      LoomregStoreFreeText(line);
      return result;
    }
    case Call::kOpen: {
      int fd = 0;
      result = LoomregStoreOpenFile(store, c.arg.c_str(), c.name.c_str(), &fd);
      if (result != LOOMREG_STORE_OK) {
        EXPECT_EQ(fd, -1);
        return result;
      }
      EXPECT_EQ(testing::DescriptorFaults(fd), "");
      texts.push_back(testing::ReadAndClose(fd));
      return result;
    }
    case Call::kHas:
      return LoomregStoreHasFile(store, c.arg.c_str(), c.name.c_str());
  }
  texts = Texts(list);
  // Only a read error may leave words behind; every other failure returns an empty list.
  if (result != LOOMREG_STORE_OK && result != LOOMREG_STORE_READ_ERROR) {
    EXPECT_EQ(list.count, 0u);
  }
  LoomregStoreFreeList(&list);
  EXPECT_EQ(list.items, nullptr);
  return result;
}

TEST(StoreReadTest, ReadsOnlyRegularFilesAndNeverFollowsALink) {
  using enum Plant::Kind;
  const std::string kStamp = "M1,Tue Dec 08 07:05:03 2026";
  std::string many;
  for (int i = 1; i <= 3000; ++i) many += "F" + std::to_string(i) + ",S1,B1,C1,M1\r\n";
  const std::vector<Case> cases = {
      {"machines, every word as it stands",
       {{kText, "MachineList/MachineList", "M1\r\nM2 M3\n\t\vM1\f" + std::string(300, 'L')}},
       Call::kMachines,
       "",
       "",
       LOOMREG_STORE_OK,
       {"M1", "M2", "M3", "M1", std::string(300, 'L')},
       "MachineList/MachineList"},
      {"a missing list",
       {},
       Call::kMachines,
       "",
       "",
       LOOMREG_STORE_MISSING,
       {},
       "MachineList/MachineList"},
      {"a link in place of a list",
       {{kLink, "MachineList/MachineList", "../../outside"}},
       Call::kMachines,
       "",
       "",
       LOOMREG_STORE_LINK,
       {},
       "MachineList/MachineList"},
      {"a FIFO in place of a list",
       {{kFifo, "StyleList/KindList", ""}},
       Call::kStyles,
       "",
       "",
       LOOMREG_STORE_NOT_REGULAR,
       {},
       "StyleList/KindList"},
      {"a directory in place of a list",
       {{kDirectory, "StyleList/KindList", ""}},
       Call::kStyles,
       "",
       "",
       LOOMREG_STORE_NOT_REGULAR,
       {},
       "StyleList/KindList"},
      {"styles, the last line unterminated",
       {{kText, "StyleList/KindList", "S1\r\nS2"}},
       Call::kStyles,
       "",
       "",
       LOOMREG_STORE_OK,
       {"S1", "S2"},
       "StyleList/KindList"},
      {"a machine's files",
       {{kText, "MachineF/M1", "F1\r\nF2\r\n"}},
       Call::kMachineFiles,
       "M1",
       "",
       LOOMREG_STORE_OK,
       {"F1", "F2"},
       "MachineF/M1"},
      {"a machine name that climbs out",
       {{kText, "MachineF/M1", "F1\r\n"}},
       Call::kMachineFiles,
       "../MachineF/M1",
       "",
       LOOMREG_STORE_BAD_NAME,
       {},
       ""},
      {"a link in place of a style's files",
       {{kLink, "StyleFile/S1", "../../outside"}},
       Call::kStyleFiles,
       "S1",
       "",
       LOOMREG_STORE_LINK,
       {},
       "StyleFile/S1"},
      {"a FIFO in place of a style's files",
       {{kFifo, "StyleFile/S1", ""}},
       Call::kStyleFiles,
       "S1",
       "",
       LOOMREG_STORE_NOT_REGULAR,
       {},
       "StyleFile/S1"},
      {"the history newest first, empty lines and LF-only ends included",
       {{kText, "SetValueFileList/SetValueList", "F1,S1,B,C,M1\r\nF2,S1,B,C,M1\n\r\nF3,S2,B,C,M2"}},
       Call::kHistory,
       "3",
       "",
       LOOMREG_STORE_OK,
       {"F3,S2,B,C,M2", "", "F2,S1,B,C,M1"},
       "SetValueFileList/SetValueList"},
      {"the end of a long history",
       {{kText, "SetValueFileList/SetValueList", many}},
       Call::kHistory,
       "2",
       "",
       LOOMREG_STORE_OK,
       {"F3000,S1,B1,C1,M1", "F2999,S1,B1,C1,M1"},
       "SetValueFileList/SetValueList"},
      {"a FIFO in place of the history",
       {{kFifo, "SetValueFileList/SetValueList", ""}},
       Call::kHistory,
       "5",
       "",
       LOOMREG_STORE_NOT_REGULAR,
       {},
       "SetValueFileList/SetValueList"},
      {"a link in place of the history",
       {{kLink, "SetValueFileList/SetValueList", "../../outside"}},
       Call::kHistory,
       "5",
       "",
       LOOMREG_STORE_LINK,
       {},
       "SetValueFileList/SetValueList"},
      {"a stamp",
       {{kText, "Machine/M1", kStamp + "\r\n\r\n"}},
       Call::kStamp,
       "M1",
       "",
       LOOMREG_STORE_OK,
       {kStamp},
       "Machine/M1"},
      {"an empty stamp",
       {{kText, "Machine/M1", ""}},
       Call::kStamp,
       "M1",
       "",
       LOOMREG_STORE_OK,
       {},
       "Machine/M1"},
      {"a stamp cut at a NUL",
       {{kText, "Machine/M1", std::string("M1,x\0y\r\n", 8)}},
       Call::kStamp,
       "M1",
       "",
       LOOMREG_STORE_OK,
       {"M1,x"},
       "Machine/M1"},
      {"a link in place of a stamp",
       {{kLink, "Machine/M1", "../../outside"}},
       Call::kStamp,
       "M1",
       "",
       LOOMREG_STORE_LINK,
       {},
       "Machine/M1"},
      {"a FIFO in place of a stamp",
       {{kFifo, "Machine/M1", ""}},
       Call::kStamp,
       "M1",
       "",
       LOOMREG_STORE_NOT_REGULAR,
       {},
       "Machine/M1"},
      {"a stored file",
       {{kText, "SetValueFile/S1/F1", "settings\r\n"}},
       Call::kOpen,
       "S1",
       "F1",
       LOOMREG_STORE_OK,
       {"settings\r\n"},
       "SetValueFile/S1/F1"},
      {"a link in place of a stored file",
       {{kLink, "SetValueFile/S1/F1", "../../../outside"}},
       Call::kOpen,
       "S1",
       "F1",
       LOOMREG_STORE_LINK,
       {},
       "SetValueFile/S1/F1"},
      {"a FIFO in place of a stored file",
       {{kFifo, "SetValueFile/S1/F1", ""}},
       Call::kOpen,
       "S1",
       "F1",
       LOOMREG_STORE_NOT_REGULAR,
       {},
       "SetValueFile/S1/F1"},
      {"a stored file not there",
       {},
       Call::kOpen,
       "S1",
       "F1",
       LOOMREG_STORE_MISSING,
       {},
       "SetValueFile/S1/F1"},
      {"a stored file's name with a space",
       {},
       Call::kOpen,
       "S1",
       "F 1",
       LOOMREG_STORE_BAD_NAME,
       {},
       ""},
      {"a stored file, looked at",
       {{kText, "SetValueFile/S1/F1", "x"}},
       Call::kHas,
       "S1",
       "F1",
       LOOMREG_STORE_OK,
       {},
       "SetValueFile/S1/F1"},
      {"a link, looked at",
       {{kLink, "SetValueFile/S1/F1", "../../../outside"}},
       Call::kHas,
       "S1",
       "F1",
       LOOMREG_STORE_LINK,
       {},
       "SetValueFile/S1/F1"},
      {"a FIFO, looked at",
       {{kFifo, "SetValueFile/S1/F1", ""}},
       Call::kHas,
       "S1",
       "F1",
       LOOMREG_STORE_NOT_REGULAR,
       {},
       "SetValueFile/S1/F1"},
      {"nothing, looked at",
       {},
       Call::kHas,
       "S1",
       "F1",
       LOOMREG_STORE_MISSING,
       {},
       "SetValueFile/S1/F1"},
      {"a style of a dot", {}, Call::kHas, "..", "F1", LOOMREG_STORE_BAD_NAME, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir root;
    testing::WriteFile(root / "outside", kOutside);
    fs::create_directory(root / "kvr");
    for (const char* dir : {"StyleFile", "SetValueFileList", "MachineF", "MachineList",
                            "SetValueFile/S1", "StyleList", "Machine"}) {
      fs::create_directories(root / "kvrdata" / dir);
    }
    bool planted = true;
    for (const Plant& plant : c.plants) {
      const fs::path path = root / "kvrdata" / plant.path;
      switch (plant.kind) {
        case kText:
          testing::WriteFile(path, plant.text);
          break;
        case kLink:
          planted = testing::MakeSymlink(plant.text, path);
          if (planted) {
            ASSERT_EQ(testing::ReadFile(path), kOutside) << "the link must reach the outside file";
          }
          break;
        case kFifo:
          planted = testing::MakeFifo(path);
          break;
        case kDirectory:
          fs::create_directory(path);
          break;
      }
    }
    if (!planted) {
      std::cout << "not tested here, as this system cannot make what it plants: " << c.what << "\n";
      continue;
    }
    testing::ScopedCwd cwd(root / "kvr");
    LoomregStore* store = nullptr;
    ASSERT_EQ(LoomregStoreOpen(&store), LOOMREG_STORE_OK);
    EXPECT_STREQ(LoomregStoreDataRoot(store), "../kvrdata/");
    std::vector<std::string> texts;
    EXPECT_EQ(RunCall(store, c, texts), c.want);
    EXPECT_EQ(texts, c.texts);
    EXPECT_EQ(LoomregStoreLastPath(store), c.last_path);
    const std::string error = LoomregStoreErrorText(store);
    EXPECT_EQ(error.empty(), c.want == LOOMREG_STORE_OK) << error;
    if (c.want == LOOMREG_STORE_LINK && c.call != Call::kHas) {
      EXPECT_NE(error.find("a symbolic link, never followed"), std::string::npos) << error;
    }
    LoomregStoreClose(store);
  }
}

}  // namespace
}  // namespace loomreg
