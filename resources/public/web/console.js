// The bundled page: without an account it welcomes the user and offers the account set-up
// (the console folded away below); with one it is a developer console showing the account
// settings, the events the desktop sends, and buttons for the MacGap members available.
(function () {
  "use strict";
  var EVENTS = ["newEmailRequest", "shareFileRequest", "messageAction", "gotoModule", "newItem",
    "fulltextSearch", "showFeedback", "setWebAssist", "setOutOfOffice", "sleep", "wake",
    "appActivated", "MacGap.load.complete", "userDefaultsChanged", "accountChanged",
    "accountWebDiscovery", "statusItemClick", "connectionError"];
  var ACCOUNT_KEYS = ["MacGap_username", "MacGap_server", "MacGap_port",
    "MacGap_useCustomConfiguration", "MacGap_allowUntrustedCertificates"];

  function $(id) { return document.getElementById(id); }
  function hasBridge() { return typeof window.MacGap === "object" && window.MacGap !== null; }
  function safe(fn) { try { return fn(); } catch (e) { return undefined; } }

  function fillList(dl, rows) {
    dl.textContent = "";
    rows.forEach(function (row) {
      var dt = document.createElement("dt"); dt.textContent = row[0];
      var dd = document.createElement("dd");
      dd.textContent = row[1] === undefined || row[1] === null || row[1] === "" ? "—" : String(row[1]);
      dl.appendChild(dt); dl.appendChild(dd);
    });
  }

  // An account counts as set up once it has a user name (the Account pane's first field).
  function accountSetUp() {
    if (!hasBridge() || !MacGap.Defaults || typeof MacGap.Defaults.get !== "function") return true;
    var name = safe(function () { return MacGap.Defaults.get("MacGap_username"); });
    return typeof name === "string" && name !== "";
  }

  function showWelcome() {
    var welcome = !accountSetUp();
    $("welcome").hidden = !welcome;
    $("console").open = !welcome;
  }

  function showAccount() {
    showWelcome();
    var old = document.querySelector("#account-card p.note");
    if (old) old.remove();
    var defaults = hasBridge() ? MacGap.Defaults : undefined;
    fillList($("account"), ACCOUNT_KEYS.map(function (key) {
      var value = defaults && typeof defaults.get === "function" ? safe(function () { return defaults.get(key); }) : undefined;
      return [key.replace("MacGap_", ""), value];
    }));
    if (!defaults) {
      var note = document.createElement("p");
      note.className = "hint note";
      note.textContent = "Account settings are read through MacGap.Defaults, which this version does not offer yet.";
      $("account").parentNode.appendChild(note);
    }
  }

  function showPaths() {
    if (!hasBridge()) { fillList($("paths"), [["bridge", "not available"]]); return; }
    fillList($("paths"), [["resources", MacGap.resourcePath], ["documents", MacGap.documentsPath],
      ["library", MacGap.libraryPath], ["home", MacGap.homePath], ["temp", MacGap.tempPath],
      ["dropped files", (MacGap.droppedFiles || []).join(", ")]]);
  }

  function showNotifications() {
    var list = $("notifications");
    list.textContent = "";
    var records = hasBridge() ? (MacGap.notifications || []) : [];
    if (!records.length) {
      var li = document.createElement("li"); li.className = "empty"; li.textContent = "None yet.";
      list.appendChild(li); return;
    }
    records.forEach(function (r) {
      var li = document.createElement("li");
      var time = document.createElement("span"); time.className = "time";
      time.textContent = new Date(r.sentOn).toLocaleTimeString();
      var name = document.createElement("span"); name.className = "name"; name.textContent = r.title || "(no title)";
      var data = document.createElement("span"); data.className = "data"; data.textContent = r.id;
      li.appendChild(time); li.appendChild(name); li.appendChild(data);
      list.appendChild(li);
    });
  }

  var eventCount = 0;
  function logEvent(name, data) {
    var list = $("events");
    if (eventCount === 0) list.textContent = "";
    eventCount++;
    var li = document.createElement("li");
    var time = document.createElement("span"); time.className = "time"; time.textContent = new Date().toLocaleTimeString();
    var n = document.createElement("span"); n.className = "name"; n.textContent = name;
    var d = document.createElement("span"); d.className = "data";
    d.textContent = data === undefined ? "" : JSON.stringify(data, null, 1);
    li.appendChild(time); li.appendChild(n); li.appendChild(d);
    list.insertBefore(li, list.firstChild);
  }

  function emptyEvents() {
    var li = document.createElement("li"); li.className = "empty"; li.textContent = "Nothing received yet.";
    $("events").textContent = ""; $("events").appendChild(li); eventCount = 0;
  }

  EVENTS.forEach(function (name) {
    document.addEventListener(name, function (e) {
      logEvent(name, e.data);
      if (name === "MacGap.load.complete") return;
      if (name === "userDefaultsChanged" || name === "accountChanged") showAccount();
      showPaths();
    });
  });

  var actions = {
    "setup": function () { MacGap.AccountCommand.showPreferences(); },
    "notify": function () { MacGap.notify({ title: "Wendrel Desktop", content: "A notification from the console.", sound: true }); showNotifications(); },
    "notify-silent": function () { MacGap.notify({ title: "Silent notification", content: "No sound.", sound: false }); showNotifications(); },
    "close-all": function () { MacGap.closeNotification("*"); showNotifications(); },
    "sheet": function () { MacGap.notify({ type: "sheet", title: "Wendrel Desktop", content: "A message on the main window." }); },
    "beep": function () { MacGap.beep(); },
    "bounce": function () { MacGap.bounce(); },
    "hide": function () {
      MacGap.hide();
      setTimeout(function () { safe(function () { MacGap.unhide(); }); }, 2000);
    },
    "open-window": function () { window.open("web/child.html", "_blank", "width=520,height=360"); },
    "open-url": function () { MacGap.openURL("https://www.tovik.com/wendrel"); },
    "alert": function () { alert("This is an alert from the page."); },
    "confirm": function () { logEvent("confirm", confirm("Do you confirm?")); },
    "clear": function () { emptyEvents(); }
  };

  document.addEventListener("click", function (e) {
    var target = e.target.closest ? e.target.closest("button[data-action]") : null;
    if (!target) return;
    var action = actions[target.getAttribute("data-action")];
    if (!action) return;
    if (target.getAttribute("data-action") !== "clear" && target.getAttribute("data-action") !== "open-window" &&
        target.getAttribute("data-action") !== "alert" && target.getAttribute("data-action") !== "confirm" && !hasBridge()) {
      logEvent("unavailable", "MacGap is not installed in this page"); return;
    }
    try { action(); } catch (err) {
      // A member this version does not offer: say so instead of failing silently.
      logEvent("unavailable", String(err && err.message || err));
    }
  });

  $("file-input").addEventListener("change", function () {
    var f = this.files && this.files[0];
    $("file-result").textContent = f ? "Chosen: " + f.name + " (" + f.size + " bytes)" : "";
  });

  function start() {
    emptyEvents();
    showAccount();
    showPaths();
    showNotifications();
    var status = $("bridge-status");
    if (hasBridge()) {
      status.className = "status ready";
      $("bridge-text").textContent = "Connected to the desktop";
      var version = MacGap.DesktopCommand && typeof MacGap.DesktopCommand.getAppVersion === "function"
        ? safe(function () { return MacGap.DesktopCommand.getAppVersion(); }) : undefined;
      if (version) $("version").textContent = "Version " + version;
      if (MacGap.DesktopCommand) safe(function () { MacGap.DesktopCommand.publishAppReady(); });
    } else {
      $("bridge-text").textContent = "No desktop bridge";
    }
  }

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", start);
  else start();
})();
