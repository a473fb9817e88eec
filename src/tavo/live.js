// tavo's live page client: sends the page's events to the server over a
// WebSocket and applies the attribute updates the server sends back.
//
// Handler code on the page calls tavo.send(this, "on_click", ...args): the
// element (or its page identifier) names the component, the event one of its
// client events. After each applied batch the document gets a "tavo:batch"
// event whose detail is the batch. tavo.state is "connecting", "open" or
// "closed" (also on <html data-tavo-live>); tavo.applied is the number of the
// last batch applied, tavo.refused the reasons of refused messages, tavo.errors
// those of handlers that failed; tavo.socket is the WebSocket.
"use strict";
(() => {
  const config = JSON.parse(document.getElementById("tavo-live").textContent);
  const attribute = config.attribute;
  const address = new URL(config.socket, location.href);
  address.protocol = address.protocol === "https:" ? "wss:" : "ws:";
  const waiting = [];

  function setState(state) {
    tavo.state = state;
    document.documentElement.setAttribute("data-tavo-live", state);
  }

  function elementId(target) {
    if (typeof target === "string") {
      return target;
    }
    const element = target && target.closest ? target.closest("[" + attribute + "]") : null;
    return element ? element.getAttribute(attribute) : null;
  }

  const tavo = {
    state: "connecting",
    applied: 0,
    refused: [],
    errors: [],
    get socket() {
      return socket;
    },
    element(id) {
      return document.querySelector("[" + attribute + '="' + CSS.escape(id) + '"]');
    },
    send(target, event, ...args) {
      const element = elementId(target);
      if (element === null) {
        console.warn("tavo: no page element for", target);
        return false;
      }
      const text = JSON.stringify({ element, event, args });
      if (tavo.state === "open") {
        socket.send(text);
      } else if (tavo.state === "connecting") {
        waiting.push(text);
      } else {
        return false;
      }
      return true;
    },
  };
  window.tavo = tavo;

  function apply(batch) {
    for (const [id, set, remove] of batch.updates || []) {
      const element = tavo.element(id);
      if (element === null) {
        console.warn("tavo: an update for an element not on the page:", id);
        continue;
      }
      for (const name of remove) {
        element.removeAttribute(name);
      }
      for (const [name, value] of Object.entries(set)) {
        try {
          element.setAttribute(name, value);
        } catch (error) {
          console.error("tavo: cannot set", name, "on", id, error);
        }
      }
    }
    if (batch.refused) {
      tavo.refused.push(batch.refused);
    }
    if (batch.error) {
      tavo.errors.push(batch.error);
    }
    tavo.applied = batch.seq;
    document.dispatchEvent(new CustomEvent("tavo:batch", { detail: batch }));
  }

  setState("connecting");
  const socket = new WebSocket(address.href);
  socket.addEventListener("open", () => {
    setState("open");
    for (const text of waiting.splice(0)) {
      socket.send(text);
    }
  });
  socket.addEventListener("message", (message) => {
    let batch;
    try {
      batch = JSON.parse(message.data);
    } catch (error) {
      console.error("tavo: a message that is not JSON", error);
      return;
    }
    apply(batch);
  });
  socket.addEventListener("close", () => setState("closed"));
})();
