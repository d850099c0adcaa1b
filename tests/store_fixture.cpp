#include "store_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace loomreg::testing {

namespace fs = std::filesystem;

std::vector<std::string> SaveWords(const SaveArgs& a) {
  return {"filename_arg=" + a.file,  "style_arg=" + a.style,     "beam_arg=" + a.beam,
          "koment_arg=" + a.comment, "machine_arg=" + a.machine, "top_beam_arg=" + a.top_beam};
}

Store::Store() : app_(root_ / "kvr"), data_(root_ / "kvrdata") {
  fs::create_directory(app_);
  for (const char* dir : {"StyleFile", "SetValueFileList", "MachineF", "MachineList",
                          "SetValueFile", "StyleList", "Machine"}) {
    fs::create_directories(data_ / dir);
  }
  WriteFile(data_ / "SetValueFile/FileList", "");
  WriteFile(data_ / "SetValueFileList/.lock", "");
}

int Store::HoldLock(bool wait) const {
  int fd = ::open((data_ / "SetValueFileList/.lock").c_str(), O_RDWR | O_CLOEXEC);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fd >= 0 && ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void Store::Upload(const std::string& content) const {
  WriteFile(data_ / "SetValueFile/FileData", content);
}

ProcessResult Store::Run(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env) const {
  std::vector<std::string> environment = {"TZ=UTC"};
  environment.insert(environment.end(), env.begin(), env.end());
  return RunProcess(LOOMREG_BINARY, argv, app_, environment);
}

void ExpectStepsDone(const Store& store, int step, const std::string& upload,
                     const std::vector<std::string>& unreadable) {
  auto done = [&](int k) { return k < step; };
  auto expect = [&](int k, const std::string& path, const std::string& content,
                    const std::string& before) {
    for (const std::string& prefix : unreadable) {
      if (path.starts_with(prefix)) return;
    }
    EXPECT_EQ(store.Data(path), done(k) ? content : before) << path << ", stopped at step " << step;
  };
  const std::string missing = "<missing>";
  expect(1, "SetValueFileList/SetValueList", "F1,S1,B1,C1,M1\r\n", missing);
  expect(2, "MachineF/M1", "F1\r\n", missing);
  expect(3, "MachineList/MachineList", "M1\r\n", missing);
  expect(4, "SetValueFile/FileList", "F1\r\n", "");
  expect(5, "SetValueFile/S1/F1", upload, missing);
  expect(5, "SetValueFile/FileData", missing, upload);
  expect(6, "StyleList/KindList", "S1\r\n", missing);
  expect(7, "StyleFile/S1", "F1\r\n", missing);
  for (const std::string& prefix : unreadable) {
    if (std::string("Machine/M1").starts_with(prefix)) return;
  }
  if (done(8)) {
    EXPECT_TRUE(store.Data("Machine/M1").starts_with("M1,")) << "stopped at step " << step;
  } else {
    EXPECT_FALSE(Exists(store.data() / "Machine/M1")) << "stopped at step " << step;
  }
}

}  // namespace loomreg::testing
