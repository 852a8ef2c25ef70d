// The player page's logic: loads a match and the picture strip into the module, paces its loop by
// the browser's clock, copies each frame to the canvas and publishes what it shows on #player.
"use strict";

(function () {
  const Width = 373, Height = 285;
  // The analysis view's gun colours, as the window draws them.
  const GunColors = { Cannon: "#ff9020", Helicopter: "#30c8ff" };
  // Keys to the module's command numbers (the window's keys).
  const Keys = { p: 0, P: 0, ".": 1, "+": 2, "=": 2, "-": 3, "0": 4, PageDown: 5, PageUp: 6, Home: 7, v: 8, V: 8 };
  const StateNames = ["closed", "playing", "ended", "failed"];

  const player = document.getElementById("player");
  const canvas = document.getElementById("field");
  const context = canvas.getContext("2d");
  const slider = document.getElementById("position");
  const status = document.getElementById("status");
  const $ = (id) => document.getElementById(id);

  let module = null;
  let timer = null;
  let shownFrames = -1;
  let sliding = false;

  function text(pointer) { return module.UTF8ToString(pointer); }

  // Written only when it changes: an unchanged text costs the page no layout.
  function show(element, value) {
    if (element.textContent !== value) element.textContent = value;
  }

  function copyIn(bytes) {
    const at = module._malloc(Math.max(bytes.length, 1));
    if (at === 0) throw new Error("the file is too large for the page's memory");
    module.HEAPU8.set(bytes, at);
    return at;
  }

  // Whole factors only: every field pixel becomes a square of screen pixels, never a blur.
  function fitCanvas() {
    const factor = Math.max(1, Math.floor(Math.min((window.innerWidth - 40) / Width, (window.innerHeight - 160) / Height)));
    canvas.style.width = Width * factor + "px";
    canvas.style.height = Height * factor + "px";
  }

  function paint() {
    const pixels = new Uint8ClampedArray(module.HEAPU8.buffer, module._web_pixels(), Width * Height * 4);
    context.putImageData(new ImageData(new Uint8ClampedArray(pixels), Width, Height), 0, 0);
  }

  // What the page shows changes with a frame or the state: a slice with neither costs no page work.
  function publish(always) {
    const frames = module._web_frames();
    const state = StateNames[module._web_state()];
    if (!always && frames === shownFrames && state === player.dataset.state) return;
    if (frames !== shownFrames) paint();
    shownFrames = frames;
    const move = module._web_move();
    const total = module._web_total();
    player.dataset.move = String(move);
    player.dataset.frames = String(module._web_frames());
    player.dataset.state = state;
    player.dataset.stateHash = text(module._web_state_hash());
    player.dataset.frameHash = text(module._web_frame_hash());
    show($("label"), text(module._web_label()));
    show($("caption"), text(module._web_caption()));
    if (!sliding) {
      slider.max = String(total);
      slider.value = String(move);
    }
    show($("where"), move + " / " + total);
    const facts = JSON.parse(text(module._web_facts()));
    show($("pause"), facts.paused ? "play" : "pause");
    showPanel(facts);
    if (state === "failed") {
      status.className = "failed";
      status.textContent = text(module._web_error());
    } else {
      status.className = "";
      status.textContent = state === "ended" ? "The match ends at move " + move + "." : "";
    }
  }

  // The analysis view's side panel, as text beside the canvas.
  function showPanel(facts) {
    const panel = $("panel");
    panel.hidden = !facts.analysis;
    if (!facts.analysis) return;
    const body = document.querySelector("#guns tbody");
    body.textContent = "";
    for (const gun of facts.guns) {
      const row = body.insertRow();
      const name = row.insertCell();
      name.textContent = gun.name;
      name.style.color = GunColors[gun.name] || "";
      name.style.fontWeight = "bold";
      row.insertCell().textContent = gun.kind;
      row.insertCell().textContent = String(gun.shots);
      row.insertCell().textContent = String(gun.hits);
      // Under duel rules only: what each gun has left.
      if (facts.duel) row.insertCell().textContent = String(gun.health);
    }
    $("health-head").hidden = !facts.duel;
    $("leader").textContent = facts.leader;
    $("panel-move").textContent = String(facts.move);
    $("panel-total").textContent = String(facts.total);
    const rate = facts.rateShift >= 0 ? "x" + (1 << facts.rateShift) : "x1/" + (1 << -facts.rateShift);
    $("panel-state").textContent = (facts.paused ? "PAUSED" : facts.state === "playing" ? "REPLAY" : facts.state) + " " + rate;
  }

  // One slice of the loop, then a timer for when the scheduler's sleep is over.
  function run(always) {
    timer = null;
    const wait = module._web_advance(performance.now());
    publish(always === true);
    if (wait >= 0) timer = setTimeout(run, wait);
  }

  // After a command or a jump: everything is shown afresh and the loop goes on from now.
  function restart() {
    if (timer !== null) clearTimeout(timer);
    timer = null;
    run(true);
  }

  function command(number) {
    if (!module || module._web_state() === 0) return;
    module._web_command(number);
    restart();
  }

  async function open(name, bytes, startMove) {
    status.className = "";
    status.textContent = "Opening " + name + " ...";
    const strip = new Uint8Array(await (await fetch("cannon.bmp")).arrayBuffer());
    const nameBytes = new TextEncoder().encode(name + "\0");
    const at = [];
    let opened = 0;
    try {
      for (const held of [nameBytes, bytes, strip]) at.push(copyIn(held));
      opened = module._web_open(at[0], at[1], bytes.length, at[2], strip.length);
    } catch (error) {
      status.className = "failed";
      status.textContent = "Cannot open " + name + ": " + error.message;
      return;
    } finally {
      at.forEach((pointer) => module._free(pointer));
    }
    shownFrames = -1;
    if (!opened) {
      player.dataset.state = "failed";
      status.className = "failed";
      status.textContent = text(module._web_error());
      return;
    }
    if (startMove !== null) {
      module._web_set_paused(1);
      module._web_jump(startMove);
    }
    restart();
    player.focus();
  }

  async function openUrl(url, startMove) {
    try {
      const response = await fetch(url);
      if (!response.ok) throw new Error("HTTP " + response.status);
      await open(url, new Uint8Array(await response.arrayBuffer()), startMove);
    } catch (error) {
      status.className = "failed";
      status.textContent = "Cannot load " + url + ": " + error.message;
    }
  }

  async function openFile(file) {
    await open(file.name, new Uint8Array(await file.arrayBuffer()), null);
  }

  document.addEventListener("keydown", (event) => {
    if (event.ctrlKey || event.altKey || event.metaKey || event.target.tagName === "INPUT" && event.target.type !== "range") return;
    const number = Keys[event.key];
    if (number === undefined) return;
    event.preventDefault();
    command(number);
  });
  for (const button of document.querySelectorAll("button[data-command]")) {
    button.addEventListener("click", () => command(Number(button.dataset.command)));
  }
  slider.addEventListener("input", () => { sliding = true; $("where").textContent = slider.value + " / " + slider.max; });
  slider.addEventListener("change", () => {
    sliding = false;
    if (!module || module._web_state() === 0) return;
    module._web_jump(Number(slider.value));
    restart();
  });
  $("file").addEventListener("change", (event) => { if (event.target.files.length) openFile(event.target.files[0]); });
  document.addEventListener("dragover", (event) => { event.preventDefault(); document.body.classList.add("dragging"); });
  document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    document.body.classList.remove("dragging");
    if (event.dataTransfer.files.length) openFile(event.dataTransfer.files[0]);
  });
  window.addEventListener("resize", fitCanvas);
  fitCanvas();

  BrakkenfelPlayer().then((loaded) => {
    module = loaded;
    player.dataset.ready = "true";
    const query = new URLSearchParams(location.search);
    const move = query.get("move");
    const startMove = move !== null && /^\d+$/.test(move) ? Number(move) : null;
    if (query.get("match")) openUrl(query.get("match"), startMove);
  });
})();
