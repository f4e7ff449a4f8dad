#include "config/CfgBindings.h"

#include "base/TextUtils.h"

namespace trawlex {

void TPropRegistry::RegisterClass(const std::string& className, const std::string& parentClassName) {
  std::lock_guard<std::mutex> g(FLock);
  FClasses[className].Parent = parentClassName;
}

void TPropRegistry::RegisterProperty(const std::string& className, TPropInfo info) {
  std::lock_guard<std::mutex> g(FLock);
  const std::string key = UpperAscii(info.Name);
  FClasses[className].Props[key] = std::move(info);
}

const TPropInfo* TPropRegistry::FindProperty(const std::string& className, const std::string& propName) const {
  std::lock_guard<std::mutex> g(FLock);
  const std::string key = UpperAscii(propName);
  std::string cls = className;
  for (int depth = 0; depth < 64 && !cls.empty(); ++depth) {  // the bound guards a parent cycle
    const auto it = FClasses.find(cls);
    if (it == FClasses.end()) return nullptr;
    const auto p = it->second.Props.find(key);
    if (p != it->second.Props.end()) return &p->second;
    cls = it->second.Parent;
  }
  return nullptr;
}

}  // namespace trawlex
