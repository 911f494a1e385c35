// The test's side inside the browser. It asks the test's report server on
// 127.0.0.1 (its port is in config.json, written by the test) for the cases,
// opens one native port per case, sends the case's request and reports every
// message that arrives and how the port ended. A case with disconnectAfter
// lets go of its port once that many messages have arrived.
//
// The browser may start this worker more than once; the server hands the
// cases out only to the first start.

const api = globalThis.browser ?? globalThis.chrome;

function post(server, path, body) {
  return fetch(server + path, { method: "POST", body: JSON.stringify(body) });
}

function runCase(server, testCase) {
  const messages = [];
  let port;
  try {
    port = api.runtime.connectNative(testCase.host);
  } catch (error) {
    post(server, "/result", { name: testCase.name, messages, error: `connectNative threw: ${error}` });
    return;
  }
  port.onMessage.addListener((message) => {
    messages.push(message);
    const text = typeof message?.text === "string" ? message.text : null;
    post(server, "/event", {
      name: testCase.name,
      event: `message ${messages.length}: ${text === null ? "without text" : `${text.length} characters`}`,
    });
    // A page that goes away mid-edit: the port's own disconnect fires no
    // onDisconnect on this side, so the case reports itself.
    if (messages.length === testCase.disconnectAfter) {
      port.disconnect();
      post(server, "/result", { name: testCase.name, messages, error: "disconnected by the extension" });
    }
  });
  port.onDisconnect.addListener((p) => {
    // Chromium reports why in runtime.lastError, Firefox in the port's error.
    const error = p.error ?? globalThis.chrome?.runtime?.lastError;
    post(server, "/result", { name: testCase.name, messages, error: error ? error.message : null });
  });
  port.postMessage(testCase.request);
  post(server, "/event", { name: testCase.name, event: "request sent" });
}

async function main() {
  const config = await (await fetch(api.runtime.getURL("config.json"))).json();
  const server = `http://127.0.0.1:${config.port}`;
  try {
    const start = await (await post(server, "/start", {})).json();
    for (const testCase of start.cases) runCase(server, testCase);
  } catch (error) {
    await post(server, "/event", { name: "worker", event: `failed: ${error}` });
  }
}

main();
