// Everything the main window holds that is not a widget: the host list, the
// session component VeskoClient1, the store of the selected host, the
// reservation box, the user list and the session policy. The window binds
// controls to it; the pilot mode runs it without a window.
#pragma once

#include <string>

#include "reader/ModemSettings.h"
#include "hosts/HostTable.h"
#include "session/VeskoClient.h"
#include "store/MessageStore.h"
#include "store/ReservationBox.h"
#include "reader/SessionPolicy.h"
#include "reader/UserList.h"

namespace brelo {

struct TMainModel {
  TMainModel(std::string programFolder, IMainView& view)
      : ProgramFolder(std::move(programFolder)),
        Policy(VeskoClient1, Hosts, Store, Box, Users, view, ProgramFolder) {}

  std::string ProgramFolder;
  THostTable Hosts;
  TVeskoClient VeskoClient1;
  TMessageStore Store;
  TReservationBox Box;
  TUserList Users;
  TSessionPolicy Policy;  // last: it goes first, before what it uses
};

}  // namespace brelo
