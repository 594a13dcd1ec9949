// Install mode: provisioning the machine's trust anchors ("-i").
#pragma once

namespace tessaline {

// Removes the retired CA certificates and installs the RSA CA chains. Every
// step's result goes to the trace only; nothing reaches the caller.
void InstallCertificateChains();

}  // namespace tessaline
