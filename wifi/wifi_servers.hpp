// SPDX-License-Identifier: MIT
// The unit's web server (boa) and FTP server (bftpd), through which a phone or the rear
// camera unit reaches the recorder over Wi-Fi. Both Wi-Fi programs start them once their
// network is up and stop them before they take it down.
#pragma once

namespace wifi_programs {

// boa in the background, then, `gap_ms` later, bftpd as a daemon. Their results are not
// looked at: a server that fails to start leaves the network up.
void startServers(int gap_ms);
// "killall -9 bftpd", then "killall -9 boa".
void stopServers();

}  // namespace wifi_programs
