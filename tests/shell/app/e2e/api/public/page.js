// @ts-check
// A page written against the generated macgap.d.ts: type-checked with `tsc --strict --checkJs`
// against the declarations, then run in the real application, where it compares what is
// installed with what is declared. The tables below must name every declared member (the type
// checker refuses a missing or unknown one, and a kind the declared type does not allow); at run
// time each member must have the listed kind and nothing installed may be missing from them.
// The page reports in its title: {"macgap", "loadComplete", "checked", "problems"}.

/**
 * The `typeof` a value of type T can have.
 * @template T
 * @typedef {T extends (...args: any[]) => any ? "function" : T extends string ? "string" :
 *   T extends number ? "number" : T extends boolean ? "boolean" : T extends undefined ?
 *   "undefined" : "object"} KindOf
 */
/**
 * Every member of T with the kind expected here, one of those its declared type allows.
 * @template T
 * @typedef {{ [K in keyof T]-?: KindOf<T[K]> }} Kinds
 */

/** @type {Kinds<MacGap>} */ const root = {
  terminate: "function", activate: "function", hide: "function", unhide: "function",
  beep: "function", bounce: "function", notify: "function", closeNotification: "function",
  setUserAgent: "function", openURL: "function", launch: "function", applicationPath: "string",
  resourcePath: "string", documentsPath: "string", libraryPath: "string", homePath: "string",
  tempPath: "string", droppedFiles: "undefined", notifications: "object", idleTime: "number",
  Window: "object", Menu: "object", DesktopCommand: "object", AccountCommand: "object",
  Defaults: "object", Notify: "object", Dock: "object", File: "object", Dialog: "object",
  Task: "object", StatusItem: "object", Sound: "object", Clipboard: "object", Fonts: "object"
};
/** @type {Kinds<MacGapWindow>} */ const windowObject = {
  open: "function", move: "function", resize: "function", center: "function", minimize: "function",
  maximize: "function", toggleFullscreen: "function", title: "function", restore: "function",
  isMaximized: "boolean", x: "number", y: "number"
};
/** @type {Kinds<MacGapMenu>} */ const menu = {
  constructor: "object", create: "function", addItem: "function", getItem: "function",
  addSeparator: "function", type: "undefined", menuItems: "object"
};
/** @type {Kinds<MacGapMenuConstructor>} */
const menuClass = { prototype: "object", getKeyFromString: "function" };
/** @type {Kinds<MacGapMenuItem>} */ const menuItem = {
  remove: "function", setLabel: "function", addSubmenu: "function", setKey: "function",
  enabled: "boolean", callback: "undefined", submenu: "object"
};
/** @type {Kinds<MacGapDesktopCommand>} */ const desktopCommand = {
  publishAppReady: "function", preWebSocket: "function", openInApp: "function",
  setDockBadge: "function", openChild: "function", getDefaultLocale: "function",
  setOutOfOfficeMenuState: "function", openAboutWindow: "function",
  showNotificationIdCallback: "function", dismissNotification: "function",
  getAppVersion: "function", startUpdateCheckerWith: "function", enableMessageMenu: "function",
  setDefaultNewItemShortcut: "function"
};
/** @type {Kinds<MacGapAccountCommand>} */ const accountCommand = {
  verificationResult: "function", showPreferences: "function",
  autodiscoveryPasswordServer: "function", accountWebDiscovery: "function",
  makeCertificateTrusted: "function"
};
/** @type {Kinds<MacGapDefaults>} */ const defaults = {
  get: "function", set: "function", getSecure: "function", setSecure: "function",
  remove: "function", defaults: "object"
};
/** @type {Kinds<MacGapNotify>} */
const notify = { notify: "function", close: "function", notifications: "undefined" };
/** @type {Kinds<MacGapDock>} */
const dock = { addBadge: "function", removeBadge: "function", badge: "undefined" };
/** @type {Kinds<MacGapFile>} */
const file = { write: "function", read: "function", exists: "function" };
/** @type {Kinds<MacGapDialog>} */
const dialog = { openDialog: "function", saveDialog: "function" };
/** @type {Kinds<MacGapTask>} */ const task = {
  create: "function", launch: "function", terminate: "function", isRunning: "boolean",
  waitUntilExit: "boolean", pipeOutput: "boolean", arguments: "object", environment: "object",
  currentDirectoryPath: "object", callback: "object"
};
/** @type {Kinds<MacGapStatusItem>} */
const statusItem = { create: "function", title: "undefined", menu: "undefined" };
/** @type {Kinds<MacGapSound>} */
const sound = { play: "function", playSystem: "function", cb: "undefined" };
/** @type {Kinds<MacGapClipboard>} */ const clipboard = { copy: "function", paste: "function" };
/** @type {Kinds<MacGapFonts>} */ const fonts = {
  availableFonts: "function", availableFontFamilies: "function",
  availableMembersOfFontFamily: "function", getLineHeight: "function"
};

// Every member called as the declarations allow (type-checked only: most act on the desktop).
function usesEveryMember() {
  MacGap.terminate(); MacGap.activate(); MacGap.hide(); MacGap.unhide(); MacGap.beep();
  MacGap.bounce(); MacGap.closeNotification("*"); MacGap.setUserAgent("Agent/1");
  MacGap.notify({ type: "sheet", id: 7, title: "t", content: "c", subtitle: "s", sound: false });
  MacGap.openURL("https://example.com/"); MacGap.launch("firefox");
  /** @type {string[]} */ const paths = [MacGap.applicationPath, MacGap.resourcePath,
    MacGap.documentsPath, MacGap.libraryPath, MacGap.homePath, MacGap.tempPath,
    ...(MacGap.droppedFiles ?? [])];
  const sent = MacGap.notifications.map((n) => [n.id, n.title ?? "", n.sentOn.getTime()]);
  const idle = (MacGap.idleTime ?? 0) + paths.length + sent.length;

  const w = MacGap.Window;
  w.open(); w.move(1, 2); w.resize(3, idle); w.center(); w.minimize(); w.maximize();
  w.toggleFullscreen(); w.title("t"); w.restore();
  /** @type {[boolean, number, number]} */ const frame = [w.isMaximized, w.x, w.y];

  const bar = MacGap.Menu;
  const made = bar.create("Tray", "statusbar");
  const item = made?.addItem({ label: "Open", keys: "cmd+o", index: 0 }, () => {});
  const found = bar.getItem(0) ?? bar.getItem("File");
  bar.addSeparator().addSeparator();
  /** @type {string} */ const key = bar.constructor.getKeyFromString("cmd+n");
  const types = [bar.type ?? "", key, ...bar.menuItems.map((i) => i.enabled)];
  if (item) {
    item.setLabel("Open…"); item.setKey("cmd+shift+o"); item.enabled = false;
    item.callback = () => {}; item.callback = null;
    item.addSubmenu("More")?.addSeparator(); item.submenu?.getItem(0); item.remove();
  }

  const d = MacGap.DesktopCommand;
  if (d) {
    d.publishAppReady(); d.preWebSocket("wss://mail.example.com/"); d.openInApp({ url: "u" });
    d.setDockBadge("3"); d.setOutOfOfficeMenuState("true"); d.openAboutWindow();
    /** @type {Window | undefined} */ const child = d.openChild({ url: "child.html", name: "n",
      attributes: { left: 0, top: 0, width: 10, height: 10 } });
    d.showNotificationIdCallback({ title: "t", body: "b" }, "id", "function(id) {}");
    d.dismissNotification("id"); d.startUpdateCheckerWith("mail.example.com");
    d.enableMessageMenu(1); d.setDefaultNewItemShortcut("New Message");
    /** @type {string[]} */ const texts = [d.getDefaultLocale(), d.getAppVersion(), child?.name ?? ""];
  }
  const a = MacGap.AccountCommand;
  a?.verificationResult(); a?.showPreferences(); a?.autodiscoveryPasswordServer("u", "p", "s");
  a?.accountWebDiscovery(); a?.makeCertificateTrusted("mail.example.com:8443");
  const s = MacGap.Defaults;
  if (s) {
    s.set("k", 1, "int"); s.set("k", "v"); s.setSecure("k", "v"); s.setSecure("k"); s.remove("k");
    const all = [s.get("k", "int"), s.getSecure("k")?.length, Object.keys(s.defaults)];
  }
  MacGap.Notify?.notify({ title: "t" }); MacGap.Notify?.close("1");
  /** @type {undefined} */ const none = MacGap.Notify?.notifications;
  MacGap.Dock?.addBadge("1"); MacGap.Dock?.removeBadge();
  /** @type {string | undefined} */ const badge = MacGap.Dock?.badge;
  const f = MacGap.File;
  f?.write("/tmp/a", { a: 1 }, "json");
  const file = [f?.read("/tmp/a", "string"), f?.exists("/tmp/a")];
  MacGap.Dialog?.openDialog({ files: true, multiple: true, callback: (p) => p.join() });
  MacGap.Dialog?.saveDialog({ title: "t", prompt: "p", message: "m", filename: "f",
    directory: "file:///tmp", createDirs: true, allowedTypes: ["txt"],
    callback: (r) => r.directory + r.filePath + r.filename });
  const run = MacGap.Task?.create("/bin/true", (r) => r.status + (typeof r.stdOut === "string" ? r.stdOut : ""));
  if (run) {
    run.arguments = ["-x"]; run.environment = { A: "b" }; run.currentDirectoryPath = "/tmp";
    run.pipeOutput = true; run.waitUntilExit = false; run.callback = null; run.launch();
    run.terminate();
    const state = [run.isRunning, run.arguments?.length, run.environment, run.currentDirectoryPath];
  }
  const tray = MacGap.StatusItem;
  if (tray) {
    tray.create({ title: "t", titleFontSize: 12, image: "i.png", alternateImage: "j.png",
      onClick: () => {} });
    tray.title = "u"; tray.menu = made;
    /** @type {string | undefined} */ const title = tray.title;
  }
  MacGap.Sound?.play("ding.wav", (name) => name.length); MacGap.Sound?.playSystem("Glass");
  const cb = MacGap.Sound?.cb;
  MacGap.Clipboard?.copy("c");
  /** @type {string | undefined} */ const pasted = MacGap.Clipboard?.paste();
  const fo = MacGap.Fonts;
  if (fo) {
    /** @type {string[]} */ const names = [...fo.availableFonts(), ...fo.availableFontFamilies()];
    const members = fo.availableMembersOfFontFamily("DejaVu Sans")?.map(([n, st, wt, tr]) => n + st + wt + tr);
    const height = (fo.getLineHeight("DejaVu Sans", 12) ?? 0) + names.length;
  }
  return [frame, types, found, none, badge, cb, pasted, file];
}

// Every event, with the data its declaration gives (listening is harmless, so this runs).
/** @type {{ [K in keyof MacGapDocumentEventMap]-?: (event: MacGapDocumentEventMap[K]) => unknown }} */
const onDocument = {
  sleep: (e) => e.data, wake: (e) => e.data,
  appActivated: (e) => e.data.localizedName + e.data.bundleURL, statusItemClick: (e) => e.data,
  accountChanged: (e) => e.data,
  accountWebDiscovery: (e) => (e.data.result === "success" ? e.data.server + e.data.port : e.data.result),
  userDefaultsChanged: (e) => Object.keys(e.data), newEmailRequest: (e) => e.data.url,
  shareFileRequest: (e) => e.data.files.join(), messageAction: (e) => e.data.action,
  gotoModule: (e) => e.data.module, newItem: (e) => e.data.item, fulltextSearch: (e) => e.data,
  showFeedback: (e) => e.data, setWebAssist: (e) => e.data.enabled === "true",
  setOutOfOffice: (e) => e.data.enabled === "false",
  connectionError: (e) => e.data.code + e.data.domain + e.data.localizedMessage + (e.data.url ?? ""),
  "MacGap.load.complete": (e) => Object.keys(e.data)
};
/** @type {{ [K in keyof MacGapWindowEventMap]-?: (event: MacGapWindowEventMap[K]) => unknown }} */
const onWindow = {
  resize: (e) => (e.data ? e.data.width + e.data.height + Number(e.data.fullscreen) : 0),
  minimized: (e) => e.data, restore: (e) => e.data, "enter-fullscreen": (e) => e.data,
  "leave-fullscreen": (e) => e.data
};
document.addEventListener("sleep", onDocument.sleep);
window.addEventListener("minimized", onWindow.minimized);

const state = { macgap: typeof window.MacGap, loadComplete: 0, checked: 0,
  /** @type {string[]} */ problems: [] };
function render() { document.title = JSON.stringify(state); }

/**
 * @param {string} where
 * @param {any} object
 * @param {Record<string, string>} kinds
 */
function compare(where, object, kinds) {
  if (object === undefined || object === null) {
    state.problems.push(where + ": not installed");
    return;
  }
  for (const [name, kind] of Object.entries(kinds)) {
    const actual = typeof object[name];
    if (actual !== kind) state.problems.push(`${where}.${name}: ${actual}, declared ${kind}`);
    state.checked++;
  }
  // Every wrapper has its class's `constructor` (declared where the class has class members).
  for (const name in object)
    if (name !== "constructor" && !Object.prototype.hasOwnProperty.call(kinds, name))
      state.problems.push(`${where}.${name}: installed, not declared`);
}

if (window.MacGap) {
  for (const [where, object, kinds] of /** @type {[string, any, Record<string, string>][]} */ ([
  ["MacGap", MacGap, root], ["MacGap.Window", MacGap.Window, windowObject],
  ["MacGap.Menu", MacGap.Menu, menu],
  ["MacGap.Menu.constructor", MacGap.Menu.constructor, menuClass],
  ["MacGap.Menu.getItem(0)", MacGap.Menu.getItem(0), menuItem],
  ["MacGap.DesktopCommand", MacGap.DesktopCommand, desktopCommand],
  ["MacGap.AccountCommand", MacGap.AccountCommand, accountCommand],
  ["MacGap.Defaults", MacGap.Defaults, defaults], ["MacGap.Notify", MacGap.Notify, notify],
  ["MacGap.Dock", MacGap.Dock, dock], ["MacGap.File", MacGap.File, file],
  ["MacGap.Dialog", MacGap.Dialog, dialog], ["MacGap.Task", MacGap.Task, task],
  ["MacGap.StatusItem", MacGap.StatusItem, statusItem], ["MacGap.Sound", MacGap.Sound, sound],
  ["MacGap.Clipboard", MacGap.Clipboard, clipboard], ["MacGap.Fonts", MacGap.Fonts, fonts]
  ]))
    compare(where, object, kinds);
}
for (const [name, handler] of Object.entries(onDocument))
  document.addEventListener(name, /** @type {EventListener} */ (handler));
for (const [name, handler] of Object.entries(onWindow))
  window.addEventListener(name, /** @type {EventListener} */ (handler));
document.addEventListener("MacGap.load.complete", () => { state.loadComplete++; render(); });
render();
