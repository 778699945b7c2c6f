// Firefox has no protocol that reaches into an extension's background
// script, so the test driver comes in over a native host of its own: each
// message names one of worker.js's entry points and its arguments, and the
// result goes back on the same port.

const driver = chrome.runtime.connectNative("io.tolvanik.test_driver");
driver.onMessage.addListener(async ({ id, call, args }) => {
  try {
    driver.postMessage({ id, value: (await globalThis[call](...args)) ?? null });
  } catch (failure) {
    driver.postMessage({ id, error: String(failure) });
  }
});
