// Entry points the test driver calls through the DevTools protocol. Every
// call settles: native calls that never answer end in a time-out.

const ports = new Map();
let nextPortId = 1;

function withTimeout(promise, milliseconds) {
  return Promise.race([
    promise,
    new Promise((resolve) => setTimeout(() => resolve({ error: "time-out" }), milliseconds)),
  ]);
}

// One request to a fresh host process; the reply as the browser decoded it.
globalThis.sendNative = (host, message, milliseconds) =>
  withTimeout(
    new Promise((resolve) => {
      chrome.runtime.sendNativeMessage(host, message, (reply) => {
        const error = chrome.runtime.lastError;
        resolve(error ? { error: error.message } : { reply: JSON.stringify(reply) });
      });
    }),
    milliseconds,
  );

// A long-lived port; what arrives on it is collected until taken.
globalThis.openPort = (host) => {
  const state = { messages: [], disconnected: null };
  const port = chrome.runtime.connectNative(host);
  port.onMessage.addListener((message) => state.messages.push(JSON.stringify(message)));
  port.onDisconnect.addListener(() => {
    state.disconnected = chrome.runtime.lastError ? chrome.runtime.lastError.message : "";
  });
  const id = nextPortId++;
  ports.set(id, { port, state });
  return id;
};

globalThis.postToPort = (id, message) => ports.get(id).port.postMessage(message);

// Waits until the port holds `count` messages, has disconnected, or the time
// is up; then hands over and forgets what arrived.
globalThis.takeFromPort = async (id, count, milliseconds) => {
  const { state } = ports.get(id);
  const end = Date.now() + milliseconds;
  while (state.messages.length < count && state.disconnected === null && Date.now() < end) {
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
  return { messages: state.messages.splice(0), disconnected: state.disconnected };
};

globalThis.closePort = (id) => {
  ports.get(id).port.disconnect();
  ports.delete(id);
};
