// @ts-check
// Type-checked against the generated macgap.d.ts (every declared member and event, with a kind its
// type allows), then run in the application: what is installed must match these tables exactly.

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

// The members whose declarations spell out a shape (dictionaries, callbacks, results, optional
// objects, the window openChild gives, class members), used as written (type-checked only).
function usesShapedMembers() {
  MacGap.notify({ type: "sheet", id: 7, title: "t", content: "c", subtitle: "s", sound: false });
  const sent = MacGap.notifications.map((n) => [n.id, n.title ?? "", n.sentOn.getTime()]);
  /** @type {string[]} */ const paths = [MacGap.applicationPath, ...(MacGap.droppedFiles ?? [])];
  const idle = (MacGap.idleTime ?? 0) + paths.length + sent.length;
  const bar = MacGap.Menu;
  const made = bar.create("Tray", "statusbar");
  const item = made?.addItem({ label: "Open", keys: "cmd+o", index: 0 }, () => {});
  const found = bar.getItem(0) ?? bar.getItem("File");
  bar.addSeparator().addSeparator();
  /** @type {string} */ const key = bar.constructor.getKeyFromString("cmd+n");
  const types = [bar.type ?? "", key, ...bar.menuItems.map((i) => i.enabled)];
  if (item) {
    item.enabled = false; item.callback = () => {}; item.callback = null;
    item.addSubmenu("More")?.addSeparator(); item.submenu?.getItem(0);
  }
  const d = MacGap.DesktopCommand;
  d?.openInApp({ url: "u" });
  /** @type {Window | undefined} */ const child = d?.openChild({ url: "child.html", name: "n",
    attributes: { left: 0, top: 0, width: 10, height: idle } });
  d?.showNotificationIdCallback({ title: "t", body: "b" }, "id", "function(id) {}");
  const s = MacGap.Defaults;
  const all = [s?.get("k", "int"), s?.getSecure("k")?.length, Object.keys(s?.defaults ?? {})];
  MacGap.Notify?.notify({ title: "t" });
  /** @type {undefined} */ const none = MacGap.Notify?.notifications;
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
    run.pipeOutput = true; run.waitUntilExit = false; run.callback = null;
  }
  const tray = MacGap.StatusItem;
  tray?.create({ title: "t", titleFontSize: 12, image: "i.png", alternateImage: "j.png",
    onClick: () => {} });
  if (tray) tray.menu = made;
  MacGap.Sound?.play("ding.wav", (name) => name.length);
  const fo = MacGap.Fonts;
  const members = fo?.availableMembersOfFontFamily("DejaVu Sans")?.map(([n, st, wt, tr]) => n + st + wt + tr);
  const height = fo?.getLineHeight("DejaVu Sans", 12);
  return [types, found, child, all, none, badge, file, members, height];
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
