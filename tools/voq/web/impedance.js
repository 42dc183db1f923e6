// The contact view of `voq view` (the page at /impedance): the head seen
// from above, each electrode at its 10-20 position coloured by its contact,
// with its impedance.  While its stream is open voq view keeps the impedance driver on.
"use strict";

(() => {
  if (voqCommon.view !== "contact") return;
  const SVG = "http://www.w3.org/2000/svg";
  const group = document.getElementById("electrodes");
  const rows = document.getElementById("rows");
  const legend = document.getElementById("legend");
  const common = document.getElementById("common");
  const driver = document.getElementById("driver");

  // Spherical positions (degrees): polar angle from the vertex, negative on
  // the left, and azimuth from the right ear towards the nose.  Drawn in an
  // azimuthal projection with 100 degrees at the head's outline.
  const POSITIONS = {
    Fp1: [-92, -72], Fpz: [92, 90], Fp2: [92, 72],
    AF3: [-74, -65], AF4: [74, 65],
    F7: [-92, -36], F5: [-75, -41], F3: [-60, -51], F1: [-49, -68], Fz: [46, 90],
    F2: [49, 68], F4: [60, 51], F6: [75, 41], F8: [92, 36],
    FT7: [-92, -18], FC5: [-71, -21], FC3: [-52, -28], FC1: [-32, -45], FCz: [23, 90],
    FC2: [32, 45], FC4: [52, 28], FC6: [71, 21], FT8: [92, 18],
    T3: [-92, 0], T7: [-92, 0], C5: [-69, 0], C3: [-46, 0], C1: [-23, 0], Cz: [0, 0],
    C2: [23, 0], C4: [46, 0], C6: [69, 0], T4: [92, 0], T8: [92, 0],
    TP7: [-92, 18], CP5: [-71, 21], CP3: [-52, 28], CP1: [-32, 45], CPz: [23, -90],
    CP2: [32, -45], CP4: [52, -28], CP6: [71, -21], TP8: [92, -18],
    T5: [-92, 36], P7: [-92, 36], P5: [-75, 41], P3: [-60, 51], P1: [-49, 68], Pz: [46, -90],
    P2: [49, -68], P4: [60, -51], P6: [75, -41], T6: [92, -36], P8: [92, -36],
    PO3: [-74, 65], POz: [69, -90], PO4: [74, -65],
    O1: [-92, 72], Oz: [92, -90], O2: [92, -72],
    A1: [-120, 0], M1: [-118, 12], A2: [120, 0], M2: [118, -12],
  };
  const FULL = 100;   // degrees at the outline

  function place(name, spare) {
    const key = Object.keys(POSITIONS).find((k) => k.toLowerCase() === name.toLowerCase());
    if (key) {
      const [theta, phi] = POSITIONS[key];
      const r = theta / FULL;
      const a = (phi * Math.PI) / 180;
      return [r * Math.cos(a), -r * Math.sin(a)];
    }
    // Not a 10-20 name: a row under the head.
    return [-1.1 + 0.24 * spare, 1.3];
  }

  function svg(tag, attributes, text) {
    const element = document.createElementNS(SVG, tag);
    for (const [k, v] of Object.entries(attributes)) element.setAttribute(k, v);
    if (text !== undefined) element.textContent = text;
    return element;
  }

  function valueText(contact) {
    return contact.kohm === null ? "--" : contact.kohm.toFixed(1);
  }

  function cell(text, className) {
    const td = document.createElement("td");
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function onContact(c) {
    const settled = c.driver && c.settled;
    driver.textContent = !c.driver ? "impedance driver: starting..." :
      settled ? "impedance driver on" : "impedance driver on, settling...";
    legend.replaceChildren(
      document.createTextNode("Contact:"),
      swatch("good"), document.createTextNode("good up to " + c.good + " kOhm"),
      swatch("fair"), document.createTextNode("fair up to " + c.fair + " kOhm"),
      swatch("poor"), document.createTextNode("poor above"));

    let spare = 0;
    const marks = [];
    const lines = [];
    for (const e of c.electrodes) {
      const grade = settled ? e.contact.grade : "unknown";
      const value = settled ? valueText(e.contact) : "--";
      const known = Object.keys(POSITIONS).some((k) => k.toLowerCase() === e.name.toLowerCase());
      const [x, y] = place(e.name, known ? 0 : spare++);
      const mark = svg("g", { class: "electrode " + grade, "data-name": e.name, "data-grade": grade });
      mark.appendChild(svg("title", {}, e.name + ": " + value + " kOhm, " + grade));
      mark.appendChild(svg("circle", { cx: x, cy: y, r: 0.085 }));
      mark.appendChild(svg("text", { class: "name", x: x, y: y + 0.022 }, e.name));
      mark.appendChild(svg("text", { class: "value", x: x, y: y + 0.14 }, value));
      marks.push(mark);

      const row = document.createElement("tr");
      row.className = grade;
      row.dataset.name = e.name;
      row.append(cell(e.name), cell(value, "value"), cell(settled ? grade : "--", "grade"));
      lines.push(row);
    }
    group.replaceChildren(...marks);
    rows.replaceChildren(...lines);
    common.textContent = "Common mode: " + (settled ? valueText(c.common) + " kOhm, " + c.common.grade : "--");
  }

  function swatch(grade) {
    const span = document.createElement("span");
    span.className = "swatch " + grade;
    return span;
  }

  voqCommon.connect("contact", {
    hello: voqCommon.showHeadset,
    status: (s) => voqCommon.showStatus(s),
    contact: onContact,
  });
})();
