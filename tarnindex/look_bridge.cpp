// Until tarnlook's library is linked: the program itself, from the PATH.
#include <unistd.h>

#include "look_bridge.h"

namespace tarnindex {

int lookHere(const std::vector<std::string>& scaleArguments) {
  std::vector<std::string> words{"tarnlook"};
  for (const std::string& scale : scaleArguments) words.insert(words.end(), {"--scale", scale});
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  execvp("tarnlook", argv.data());
  return 127;
}

}  // namespace tarnindex
