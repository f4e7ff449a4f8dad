#include "config/SearchInputs.h"

#include <mutex>

#include "config/MemoryConfig.h"

namespace trawlex {

void AddSearchInputElements(TBaseCfgList& list, const TSearchInputControls& c) {
  list.AddProp(*c.Target, "Text");
  list.AddProp(*c.Directory, "Directory");
  if (c.Patterns) list.AddStrings(*c.Patterns, "memPatterns.Lines");
  list.AddProp(*c.Exclude, "Text");
  list.AddProp(*c.Subdirs, "Checked");
  list.AddProp(*c.CaseSensitive, "Checked");
  list.AddProp(*c.WholeWord, "Checked");
}

static void RegisterInputClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    TPropRegistry& r = TPropRegistry::Global();
    r.RegisterString<TTextInput>("TTextInput", "Text", &TTextInput::Text, &TTextInput::SetText);
    r.RegisterString<TTextInput>("TTextInput", "Directory", &TTextInput::Text, &TTextInput::SetText);
    r.RegisterBool<TCheckInput>("TCheckInput", "Checked", &TCheckInput::Checked, &TCheckInput::SetChecked);
  });
}

TTextInput::TTextInput(std::string name) : FName(std::move(name)) { RegisterInputClasses(); }

TCheckInput::TCheckInput(std::string name, bool checked) : FName(std::move(name)), FChecked(checked) {
  RegisterInputClasses();
}

TSearchInputs::TSearchInputs() : FList(std::make_unique<TBaseCfgList>(std::make_shared<TMemoryConfig>(), "fmSearch")) {
  AddSearchInputElements(*FList, {&Target, &Directory, &FPatternLines, &Exclude, &Subdirs, &CaseSensitive, &WholeWord});
}

}  // namespace trawlex
