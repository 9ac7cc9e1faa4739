// The console's windows in the browser: draws each snapshot the server sends on its event
// stream and posts what the administrator does as input actions.
"use strict";
(() => {
  // The token travels in the address only to load the page: keep it in memory, out of
  // the address bar (and so out of history and bookmarks).
  const here = new URL(location.href);
  const token = here.searchParams.get("token") ||
      new URL(document.currentScript.src).searchParams.get("token") || "";
  history.replaceState(null, "", "/");

  const desktop = document.getElementById("desktop");
  const taskbar = document.getElementById("taskbar");
  const status = document.getElementById("status");
  const views = new Map();  // hwnd -> {root, client, image, controls: Map}
  let state = null;
  let lastFocus = 0;
  let helpSeen = null;
  let openMenu = null;
  const pendingEdits = new Map();  // hwnd -> typing posted and not yet answered
  const skippedEdits = new Set();  // fields whose text a snapshot did not set meanwhile

  function q(path) { return path + (path.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(token); }

  // Input goes to the console in the order it was made: each request waits for the one
  // before it (the server takes requests on several connections at once).
  let lastInput = Promise.resolve();
  function send(action) {
    const hwnd = action.hwnd;
    const typing = ["type", "backspace", "replace"].includes(action.action);
    if (typing) pendingEdits.set(hwnd, (pendingEdits.get(hwnd) || 0) + 1);
    const post = () => fetch("/api/input", {
      method: "POST",
      headers: {"Content-Type": "application/json", "X-Veldana-Token": token},
      body: JSON.stringify(action),
      cache: "no-store",
    });
    lastInput = lastInput.then(post, post);
    return lastInput.catch(() => {}).finally(() => {
      if (!typing) return;
      const n = (pendingEdits.get(hwnd) || 1) - 1;
      if (n) { pendingEdits.set(hwnd, n); return; }
      pendingEdits.delete(hwnd);
      // A snapshot that came while the typing was on its way was not shown in the
      // field: show what the console holds now.
      if (skippedEdits.delete(hwnd) && state) render(state);
    });
  }

  // A label with its '&' marker shown as an underlined letter.
  function setLabel(el, text, noprefix) {
    if (el._text === text) return;
    el._text = text;
    el.textContent = "";
    if (noprefix) { el.textContent = text; return; }
    for (let i = 0; i < text.length; ++i) {
      const c = text[i];
      if (c === "&" && i + 1 < text.length) {
        if (text[i + 1] === "&") { el.append("&"); ++i; continue; }
        const u = document.createElement("u");
        u.textContent = text[++i];
        el.append(u);
      } else {
        el.append(c);
      }
    }
  }

  function mnemonic(text) {
    const m = /&([^&])/.exec(text || "");
    return m ? m[1].toLowerCase() : null;
  }

  function place(el, c) {
    el.style.left = c.x + "px";
    el.style.top = c.y + "px";
    el.style.width = c.w + "px";
    el.style.height = c.h + "px";
  }

  function closeMenu() {
    if (openMenu) { openMenu.remove(); openMenu = null; }
    document.querySelectorAll(".minimized.open").forEach(e => e.classList.remove("open"));
  }

  function showMenu(win, x, y) {
    closeMenu();
    const menu = document.createElement("div");
    menu.className = "menu";
    for (const item of win.menu || []) {
      const row = document.createElement("div");
      if (item.separator) { row.className = "sep"; menu.append(row); continue; }
      row.className = "item" + (item.checked ? " checked" : "") + (item.grayed ? " grayed" : "");
      setLabel(row, item.text.split("\t")[0]);
      row.dataset.command = item.id;
      row.addEventListener("click", ev => {
        ev.stopPropagation();
        closeMenu();
        if (!item.grayed) send({action: "syscommand", hwnd: win.hwnd, command: item.id});
      });
      menu.append(row);
    }
    document.body.append(menu);
    const h = menu.offsetHeight;
    menu.style.left = x + "px";
    menu.style.top = Math.max(0, y - (y + h > innerHeight ? h : 0)) + "px";
    openMenu = menu;
  }
  document.addEventListener("click", () => closeMenu());

  // ---- controls

  function makeControl(win, c) {
    let el;
    switch (c.type) {
      case "push": case "default": case "ownerdraw": {
        el = document.createElement("button");
        el.type = "button";
        el.className = c.type === "ownerdraw" ? "ownerdraw" : "push";
        el.append(document.createElement("span"));
        el.addEventListener("click", () => send({action: "click", hwnd: el._c.hwnd}));
        break;
      }
      case "check": case "radio": {
        el = document.createElement("div");
        el.className = c.type;
        el.tabIndex = 0;
        el.setAttribute("role", c.type === "check" ? "checkbox" : "radio");
        const mark = document.createElement("span");
        mark.className = "mark";
        const label = document.createElement("span");
        label.className = "label";
        el.append(mark, label);
        el.addEventListener("click", () => { if (el._c.enabled) send({action: "click", hwnd: el._c.hwnd}); });
        el.addEventListener("keydown", ev => {
          if (ev.key === " ") { ev.preventDefault(); if (el._c.enabled) send({action: "click", hwnd: el._c.hwnd}); }
        });
        break;
      }
      case "group": {
        el = document.createElement("fieldset");
        el.className = "group";
        el.append(document.createElement("legend"));
        break;
      }
      case "text": {
        el = document.createElement("div");
        el.className = "text";
        break;
      }
      case "edit": {
        el = document.createElement("input");
        el.type = "text";
        el.className = "edit";
        el.spellcheck = false;
        el.autocomplete = "off";
        wireTyping(el, () => el._c);
        break;
      }
      case "combo": {
        el = document.createElement("div");
        el.className = "combo";
        const input = document.createElement("input");
        input.type = "text";
        input.spellcheck = false;
        input.autocomplete = "off";
        const list = document.createElement("div");
        list.className = "list";
        el.append(input, list);
        wireTyping(input, () => el._c);
        list.addEventListener("click", ev => {
          const row = ev.target.closest("[data-index]");
          if (row && el._c.enabled) send({action: "pick", hwnd: el._c.hwnd, index: Number(row.dataset.index)});
        });
        list.addEventListener("dblclick", ev => {
          const row = ev.target.closest("[data-index]");
          if (row && el._c.enabled) send({action: "pick", hwnd: el._c.hwnd, index: Number(row.dataset.index)});
        });
        break;
      }
      case "dropdown": {
        el = document.createElement("select");
        el.className = "dropdown";
        el.addEventListener("change", () => send({action: "pick", hwnd: el._c.hwnd, index: el.selectedIndex}));
        break;
      }
      case "icon": {
        // A message box's standard icon has no picture in the program: draw it here.
        if (win.kind !== "messagebox" || !win.messageBox.icon) return null;
        el = document.createElement("div");
        el.className = "mbicon " + win.messageBox.icon;
        el.textContent = {hand: "\u2715", question: "?", exclamation: "!", asterisk: "i"}[win.messageBox.icon];
        break;
      }
      default:
        return null;  // painted: part of the window's image
    }
    el.classList.add("ctl");
    el.dataset.hwnd = c.hwnd;
    el.dataset.id = c.id;
    if (c.type !== "edit" && c.type !== "combo") {
      el.addEventListener("mousedown", () => {
        if (el._c.enabled && el._c.tabstop) send({action: "focus", hwnd: el._c.hwnd});
      });
    }
    return el;
  }

  // Typing goes to the console as it happens: the difference to what the field held
  // becomes typed characters or backspaces, anything else a replacement. The console's
  // answer (its limits, its own changes) comes back in the next snapshot.
  function wireTyping(input, current) {
    input.addEventListener("focus", () => {
      const c = current();
      if (c && c.enabled && lastFocus !== c.hwnd) send({action: "focus", hwnd: c.hwnd});
    });
    input.addEventListener("input", () => {
      const c = current();
      const before = input._sent ?? c.text;
      const after = input.value;
      input._sent = after;
      if (after.startsWith(before)) {
        send({action: "type", hwnd: c.hwnd, text: after.slice(before.length)});
      } else if (before.startsWith(after)) {
        send({action: "backspace", hwnd: c.hwnd, index: before.length - after.length});
      } else {
        send({action: "replace", hwnd: c.hwnd, text: after});
      }
    });
  }

  function updateControl(win, el, c) {
    el._c = c;
    place(el, c);
    el.classList.toggle("hidden", !c.visible);
    el.classList.toggle("disabled", !c.enabled);
    el.classList.toggle("focus", c.focus);
    switch (c.type) {
      case "push": case "default": case "ownerdraw":
        el.classList.toggle("default", c.type === "default");
        if (c.type !== "ownerdraw") setLabel(el.firstChild, c.text);
        el.disabled = !c.enabled;
        el.tabIndex = c.tabstop ? 0 : -1;
        break;
      case "check": case "radio":
        setLabel(el.lastChild, c.text);
        el.classList.toggle("checked", c.check === 1);
        el.classList.toggle("indeterminate", c.check === 2);
        el.setAttribute("aria-checked", c.check === 1 ? "true" : "false");
        el.tabIndex = c.tabstop && c.enabled ? 0 : -1;
        break;
      case "group":
        setLabel(el.firstChild, c.text);
        el.classList.toggle("empty", !c.text);
        if (!c.text) el.firstChild.style.display = "none";
        break;
      case "text":
        setLabel(el, c.text, c.noprefix);
        el.classList.toggle("center", c.align === "center");
        el.classList.toggle("right", c.align === "right");
        break;
      case "edit":
        syncText(el, c);
        el.disabled = !c.enabled;
        el.readOnly = !!c.readonly;
        break;
      case "combo": {
        const input = el.firstChild, list = el.lastChild;
        syncText(input, c);
        input.disabled = !c.enabled;
        const key = JSON.stringify([c.items, c.selection]);
        if (list._key !== key) {
          list._key = key;
          list.textContent = "";
          c.items.forEach((t, i) => {
            const row = document.createElement("div");
            row.textContent = t;
            row.dataset.index = i;
            if (i === c.selection) row.className = "selected";
            list.append(row);
          });
          const sel = list.children[c.selection];
          if (sel) sel.scrollIntoView({block: "nearest"});
        }
        break;
      }
      case "dropdown": {
        el.style.height = "";
        const key = JSON.stringify(c.items);
        if (el._key !== key) {
          el._key = key;
          el.textContent = "";
          for (const t of c.items) {
            const o = document.createElement("option");
            o.textContent = t;
            el.append(o);
          }
        }
        el.selectedIndex = c.selection;
        el.disabled = !c.enabled;
        break;
      }
    }
  }

  // The console's text wins unless the person's typing is still on its way.
  function syncText(input, c) {
    if (pendingEdits.has(c.hwnd)) { skippedEdits.add(c.hwnd); return; }
    if (input.value !== c.text) input.value = c.text;
    input._sent = c.text;
  }

  // ---- windows

  function makeWindow(win) {
    const root = document.createElement("div");
    root.className = "window";
    root.dataset.hwnd = win.hwnd;
    const caption = document.createElement("div");
    caption.className = "caption";
    const sys = document.createElement("div");
    sys.className = "sysbox";
    sys.title = "System menu";
    sys.addEventListener("click", ev => {
      ev.stopPropagation();
      const r = sys.getBoundingClientRect();
      if (root._win.enabled) showMenu(root._win, r.left, r.bottom);
    });
    const title = document.createElement("div");
    title.className = "title";
    caption.append(sys, title);
    const client = document.createElement("div");
    client.className = "client";
    const image = document.createElement("img");
    image.className = "image";
    image.alt = "";
    image.draggable = false;
    // A click on what the window paints itself (an icon, a picture) goes to the window at
    // that point of its client area.
    image.addEventListener("click", ev => {
      const w = root._win;
      if (!w || !w.enabled) return;
      const r = image.getBoundingClientRect();
      send({action: "mouse", hwnd: w.hwnd, x: Math.floor(ev.clientX - r.left),
            y: Math.floor(ev.clientY - r.top)});
    });
    client.append(image);
    root.append(caption, client);
    desktop.append(root);
    return {root, caption, sys, title, client, image, controls: new Map()};
  }

  function updateWindow(v, win) {
    v.root._win = win;
    const visible = win.visible && win.kind !== "minimized";
    v.root.style.display = visible ? "" : "none";
    v.root.classList.toggle("active", win.active);
    v.root.classList.toggle("disabled", !win.enabled);
    v.root.classList.toggle("modal", win.kind === "messagebox");
    v.root.dataset.kind = win.kind;
    v.caption.style.display = win.caption ? "" : "none";
    v.sys.style.display = win.menu ? "" : "none";
    v.title.textContent = win.title;
    const captionH = win.caption ? 19 : 0;
    v.root.style.left = (win.x - 4) + "px";
    v.root.style.top = (win.y - 4 - captionH) + "px";
    v.client.style.width = win.w + "px";
    v.client.style.height = win.h + "px";
    v.root.style.width = win.w + "px";
    if (win.image && v.image._v !== win.image) {
      v.image._v = win.image;
      v.image.src = q("/surface/" + win.hwnd + "?v=" + win.image);
    }
    v.image.style.display = win.image ? "" : "none";
    const seen = new Set();
    for (const c of win.controls) {
      seen.add(c.hwnd);
      let el = v.controls.get(c.hwnd);
      if (el === undefined) {
        el = makeControl(win, c);
        v.controls.set(c.hwnd, el);
        if (el) v.client.append(el);
      }
      if (el) updateControl(win, el, c);
    }
    for (const [h, el] of v.controls)
      if (!seen.has(h)) { if (el) el.remove(); v.controls.delete(h); }
    // Stack in creation order: the newest window (a modal one) is on top.
    v.root.style.zIndex = String(10 + state.windows.indexOf(win));
  }

  function tabOrder(win) {
    return win.controls.filter(c => c.tabstop && c.visible && c.enabled);
  }

  function onKey(win, ev) {
    if (!win || !win.enabled) return;
    // A control that lost its enabled state keeps the focus (Save, once saved): the key
    // then goes to the dialog, as the dialog manager would take it.
    // The key goes to the control it was pressed in; else to the console's focus.
    const own = ev.target.closest?.(".ctl")?._c;
    const focused = own && own.enabled && own.visible ? own
                                                     : win.controls.find(c => c.focus && c.enabled && c.visible);
    const target = focused ? focused.hwnd : win.hwnd;
    if (ev.key === "Enter" || ev.key === "Escape") {
      ev.preventDefault();
      send({action: "key", hwnd: target, key: ev.key === "Enter" ? "enter" : "escape"});
    } else if (ev.key === "Tab") {
      ev.preventDefault();
      const order = tabOrder(win);
      if (!order.length) return;
      let i = order.findIndex(c => c.hwnd === (focused && focused.hwnd));
      i = i < 0 ? 0 : (i + (ev.shiftKey ? order.length - 1 : 1)) % order.length;
      send({action: "focus", hwnd: order[i].hwnd});
    } else if (ev.altKey && ev.key.length === 1) {
      // Alt and a letter: the control whose label marks it.
      const k = ev.key.toLowerCase();
      const c = win.controls.find(c => c.visible && c.enabled && mnemonic(c.text) === k);
      if (!c) return;
      ev.preventDefault();
      if (["push", "default", "check", "radio"].includes(c.type)) send({action: "click", hwnd: c.hwnd});
      else {
        const i = win.controls.indexOf(c);
        const next = win.controls.slice(i + 1).find(n => n.tabstop && n.visible && n.enabled);
        if (next) send({action: "focus", hwnd: next.hwnd});
      }
    }
  }

  // Keys go to the window that holds the page's focus, else to the console's active
  // window, else to the newest dialog that takes input.
  document.addEventListener("keydown", ev => {
    if (!state || ev.target.closest?.(".help")) return;
    const root = ev.target.closest?.(".window");
    let win = root && root._win;
    if (!win) win = state.windows.find(w => w.active && w.kind !== "minimized");
    if (!win) win = [...state.windows].reverse().find(w => w.visible && w.enabled && w.kind !== "minimized");
    if (win) onKey(win, ev);
  });

  function updateMinimized(wins) {
    const seen = new Set();
    for (const win of wins) {
      seen.add(String(win.hwnd));
      let el = taskbar.querySelector(`[data-hwnd="${win.hwnd}"]`);
      if (!el) {
        el = document.createElement("div");
        el.className = "minimized";
        el.dataset.hwnd = win.hwnd;
        const img = document.createElement("img");
        img.alt = "";
        img.draggable = false;
        const title = document.createElement("div");
        title.className = "title";
        el.append(img, title);
        el.addEventListener("click", ev => {
          ev.stopPropagation();
          if (openMenu) { closeMenu(); return; }
          const r = el.getBoundingClientRect();
          showMenu(el._win, r.left, r.top);
          el.classList.add("open");
        });
        img.addEventListener("dblclick", ev => {
          ev.stopPropagation();
          closeMenu();
          send({action: "syscommand", hwnd: el._win.hwnd, command: 0xF120});  // SC_RESTORE
        });
        taskbar.append(el);
      }
      el._win = win;
      el.lastChild.textContent = win.title;
      const img = el.firstChild;
      if (win.image && img._v !== win.image) {
        img._v = win.image;
        img.src = q("/surface/" + win.hwnd + "?v=" + win.image);
      }
      el.style.display = win.visible ? "" : "none";
    }
    for (const el of [...taskbar.children]) if (!seen.has(el.dataset.hwnd)) el.remove();
  }

  function showHelp(help) {
    let box = document.getElementById("help");
    if (!box) {
      box = document.createElement("div");
      box.id = "help";
      box.className = "window help";
      const caption = document.createElement("div");
      caption.className = "caption";
      const title = document.createElement("div");
      title.className = "title";
      title.textContent = "Help";
      const close = document.createElement("button");
      close.className = "push close";
      close.textContent = "\u00d7";
      close.addEventListener("click", () => box.remove());
      caption.append(title, close);
      const frame = document.createElement("iframe");
      frame.title = "Help";
      box.append(caption, frame);
      document.body.append(box);
    }
    box.querySelector("iframe").src =
        q("/help/" + encodeURIComponent(help.name)) + (help.anchor ? "#" + encodeURIComponent(help.anchor) : "");
  }

  function render(next) {
    state = next;
    document.body.classList.toggle("wait", !!state.wait);
    desktop.style.width = state.screen.w + "px";
    desktop.style.height = state.screen.h + "px";
    const seen = new Set();
    const minimized = [];
    for (const win of state.windows) {
      if (win.kind === "minimized") { minimized.push(win); continue; }
      seen.add(win.hwnd);
      let v = views.get(win.hwnd);
      if (!v) { v = makeWindow(win); views.set(win.hwnd, v); }
      updateWindow(v, win);
    }
    for (const [h, v] of views) if (!seen.has(h)) { v.root.remove(); views.delete(h); }
    updateMinimized(minimized);

    // Follow the console's focus when it moves (not on every snapshot, so that the
    // page does not fight the person).
    if (state.focus !== lastFocus) {
      lastFocus = state.focus;
      const el = document.querySelector(`.ctl[data-hwnd="${state.focus}"]`);
      const target = el && (el.classList.contains("combo") ? el.firstChild : el);
      if (target && document.activeElement !== target) target.focus({preventScroll: true});
    }
    if (state.help) {
      if (helpSeen !== null && state.help.seq !== helpSeen) showHelp(state.help);
      helpSeen = state.help.seq;
    } else if (helpSeen === null) {
      helpSeen = 0;
    }
    document.documentElement.dataset.version = state.version;
  }

  const events = new EventSource(q("/api/events"));
  events.onmessage = ev => {
    status.textContent = "";
    status.classList.remove("lost");
    render(JSON.parse(ev.data));
  };
  events.onerror = () => {
    status.textContent = "The console does not answer";
    status.classList.add("lost");
  };
})();
