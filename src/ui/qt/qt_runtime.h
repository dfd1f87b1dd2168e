#pragma once
// The Qt application object, for programs outside the window layer (the
// command line's PDF report, benchmarks) that need Qt running but should not
// depend on Qt's headers themselves.
#include <memory>

namespace tsn {

class QtRuntime {
 public:
  // Without a display, Qt's offscreen platform is used.
  QtRuntime(int& argc, char** argv);
  ~QtRuntime();
  QtRuntime(const QtRuntime&) = delete;
  QtRuntime& operator=(const QtRuntime&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tsn
