#include "config/SearchInputs.h"

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
  list.AddProp(*c.RegExp, "Checked");
  list.AddProp(*c.Hidden, "Checked");
  list.AddProp(*c.BinarySkip, "Checked");
  list.AddProp(*c.FolderSkip, "Text");
  list.AddProp(*c.Ignored, "Checked");
}

namespace {

// The properties the inputs without a window publish; fixed once made.
class TInputProperties : public TPropRegistry {
 public:
  TInputProperties() {
    RegisterString<TTextInput>("TTextInput", "Text", &TTextInput::Text, &TTextInput::SetText);
    RegisterString<TTextInput>("TTextInput", "Directory", &TTextInput::Text, &TTextInput::SetText);
    RegisterBool<TCheckInput>("TCheckInput", "Checked", &TCheckInput::Checked, &TCheckInput::SetChecked);
  }
};

const TPropRegistry& InputProperties() {
  static const TInputProperties registry;
  return registry;
}

}  // namespace

TTextInput::TTextInput(std::string name) : FName(std::move(name)) {}
const TPropRegistry& TTextInput::Properties() const { return InputProperties(); }

TCheckInput::TCheckInput(std::string name, bool checked) : FName(std::move(name)), FChecked(checked) {}
const TPropRegistry& TCheckInput::Properties() const { return InputProperties(); }

TSearchInputs::TSearchInputs() : FList(std::make_unique<TBaseCfgList>(std::make_shared<TMemoryConfig>(), "fmSearch")) {
  AddSearchInputElements(*FList, {&Target, &Directory, &FPatternLines, &Exclude, &Subdirs, &CaseSensitive, &WholeWord, &RegExp, &Hidden,
                                   &BinarySkip, &FolderSkip, &Ignored});
}

}  // namespace trawlex
