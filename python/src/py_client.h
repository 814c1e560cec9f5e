// orvanta.Client: the server client of the window and the runner, owned by
// Python; and its data streams as NumPy batches.
#pragma once

#include <memory>
#include <string>

#include "client/vintra_client.h"
#include "platform/clock.h"
#include "python/src/py_common.h"
#include "trigger/stream_trigger.h"

namespace orvanta::python {

struct PyClient {
  SystemClock clock;
  KeptMessageBoxes boxes;
  VintraClient client{clock, boxes};
  // The start triggers of the runs played through this client.
  StreamTrigger triggers{client};
  std::string server;  // as given, or this computer's host name
  bool negotiate = true;
  int negotiationPort = VintraClient::kDefaultNegotiationPort;
  int messagePort = VintraClient::kDefaultMessagePort;
  // One stream per kind of record at a time: the client keeps one callback
  // per stream.
  bool streamOpen[6] = {false, false, false, false, false, false};
};

// Raises ServerError unless the client holds a connection.
void RequireConnection(const PyClient& client);

void BindClient(py::module_& m);

}  // namespace orvanta::python
