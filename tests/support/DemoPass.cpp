#include "support/DemoPass.h"

#include "support/Wait.h"

namespace brelo::test {

std::string PassThatLogsOut(const std::string& home, const std::string& address,
                            const std::function<void(THostEntry&)>& adjust) {
  TQuietView view;
  TMainModel model(home, view);
  view.store = &model.Store;
  model.Hosts.LoadHostList(home);
  model.Hosts.HostTable[0].Address = address;
  if (adjust) adjust(model.Hosts.HostTable[0]);
  model.Policy.Options.PassgoodbyeMessage = true;
  model.Policy.HostComboBoxChange(0);
  model.Policy.SpeedButton1Click(true);
  if (!WaitUntil([&] { return !model.VeskoClient1.SessionRunning(); }, 60000)) return "";
  const TPassSummary& s = model.Policy.Summary();
  return s.loggedOut && s.stored > 0 ? model.Store.HostFolder : "";
}

}  // namespace brelo::test
