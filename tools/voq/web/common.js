// What both views of `voq view` share: which view the page shows, the
// event stream, the status bar and the banner.
"use strict";

const voqCommon = (() => {
  // One page, two views: the traces at /, the electrodes' contact at
  // /impedance (a link between them loads the page again, which closes the
  // stream of the view left).
  const view = location.pathname === "/impedance" ? "contact" : "traces";
  const title = view === "traces" ? "VOQ live view" : "VOQ electrode contact";
  document.title = title;
  document.querySelector(".title").textContent = title;
  document.getElementById(view === "traces" ? "nav-traces" : "nav-contact").className = "current";
  for (const id of ["traces", "trace-controls"]) document.getElementById(id).hidden = view !== "traces";
  for (const id of ["contact", "driver"]) document.getElementById(id).hidden = view !== "contact";

  const banner = document.getElementById("banner");
  const status = document.getElementById("status");
  let streamBanner = "";   // about the connection to voq view
  let linkBanner = "";     // about the headset's link

  function showBanner() {
    const text = streamBanner || linkBanner;
    banner.hidden = !text;
    banner.textContent = text;
  }

  function item(text, warn) {
    const span = document.createElement("span");
    span.className = warn ? "item warn" : "item";
    span.textContent = text;
    return span;
  }

  function percent(level) {
    return level === null ? "?" : level + " %";
  }

  // The headset's state from a status event; `extra` items go first.
  function showStatus(s, extra) {
    const items = (extra || []).slice();
    items.push(item(s.rate + " samples/s"));
    items.push(item("battery " + s.battery.map(percent).join(" / ")));
    items.push(item("samples " + s.samples.toLocaleString("en")));
    items.push(item("overflowed " + s.overflowed.toLocaleString("en"), s.overflowed > 0));
    items.push(item("real-time violations " + s.violations.toLocaleString("en"), s.violations > 0));
    items.push(item("link " + s.link, s.link !== "up"));
    items.push(item(s.viewers + (s.viewers === 1 ? " viewer" : " viewers")));
    status.replaceChildren(...items);
    linkBanner = s.link === "lost" ? "The link to the headset is lost; waiting for it to come back..."
               : s.link === "reconnecting" ? "The link to the headset was lost; reconnecting..."
               : "";
    showBanner();
  }

  function showHeadset(hello) {
    const label = document.getElementById("headset");
    if (label) label.textContent = hello.headset + " " + hello.serial + " on " + hello.port;
  }

  // Opens the stream of `view` ("traces" or "contact") and calls
  // handlers[event name] with each event's data.  The browser reconnects by
  // itself when the stream breaks.  The stream is closed when the page is
  // left, even for the browser's back-forward cache (the contact view's
  // stream keeps the impedance driver on), and opened again on return.
  function connect(view, handlers) {
    let source = null;
    function open() {
      source = new EventSource("/events?view=" + view);
      for (const name of Object.keys(handlers)) {
        source.addEventListener(name, (event) => handlers[name](JSON.parse(event.data)));
      }
      source.addEventListener("open", () => { streamBanner = ""; showBanner(); });
      source.addEventListener("error", () => {
        // The browser tries again by itself unless voq view refused the
        // stream (too many pages open).
        streamBanner = source.readyState === EventSource.CLOSED
          ? "voq view refused this page's stream: close another of its pages, then reload this one."
          : "Not connected to voq view: it has stopped, or the connection was lost. Trying again...";
        showBanner();
      });
    }
    window.addEventListener("pagehide", () => { if (source) source.close(); source = null; });
    window.addEventListener("pageshow", (event) => { if (event.persisted && !source) open(); });
    open();
  }

  return { view, connect, showStatus, showHeadset, item };
})();
