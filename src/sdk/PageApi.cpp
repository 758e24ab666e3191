#include "sdk/PageApi.h"

#include <sstream>

namespace wd::sdk {
namespace {

using bridge::ClassInfo;
using bridge::MemberInfo;
using bridge::ParamType;
using Kind = MemberInfo::Kind;

struct Param {
  std::string name;
  bool optional = false;
  std::string type;
};

// The TypeScript type a declared parameter type stands for when the table says no more.
std::string defaultType(ParamType t) {
  switch (t) {
    case ParamType::String:
      return "string";
    case ParamType::Number:
    case ParamType::Int32:
      return "number";
    case ParamType::Bool:
      return "boolean";
    case ParamType::Dictionary:
      return "Record<string, unknown>";
    case ParamType::Array:
      return "unknown[]";
    case ParamType::Object:
      return "object";
    case ParamType::Any:
    case ParamType::Script:
      return "unknown";
  }
  return "unknown";
}

// Types that say too little for the page's authors: the table must spell them out.
bool needsShape(ParamType t) {
  return t == ParamType::Dictionary || t == ParamType::Array || t == ParamType::Script ||
         t == ParamType::Object;
}
bool vagueResult(const std::string& type) {
  return type.find("unknown") != std::string::npos || type.find("object") != std::string::npos;
}

// "name", "name?", "name: type" or "name?: type".
Param parseParam(const std::string& spec, ParamType declared) {
  Param p;
  const auto colon = spec.find(':');
  p.name = spec.substr(0, colon);
  while (!p.name.empty() && p.name.back() == ' ') p.name.pop_back();
  if (!p.name.empty() && p.name.back() == '?') {
    p.optional = true;
    p.name.pop_back();
  }
  if (colon == std::string::npos) {
    p.type = defaultType(declared);
  } else {
    p.type = spec.substr(colon + 1);
    while (!p.type.empty() && p.type.front() == ' ') p.type.erase(0, 1);
  }
  return p;
}

std::vector<Param> params(const MemberInfo& m) {
  std::vector<Param> out;
  for (std::size_t i = 0; i < m.params.size(); ++i) {
    if (i < m.doc.params.size())
      out.push_back(parseParam(m.doc.params[i], m.params[i]));
    else
      out.push_back({"arg" + std::to_string(i), false, defaultType(m.params[i])});
  }
  // A parameter after an optional one is optional too (TypeScript's rule, and the bridge pads
  // missing arguments with undefined anyway).
  for (std::size_t i = 1; i < out.size(); ++i) out[i].optional |= out[i - 1].optional;
  return out;
}

std::string interfaceName(const ClassInfo& cls) {
  return "MacGap" + cls.name();
}

// The page gets the opened window's `window` from a window-opening member.
std::string resultOf(const MemberInfo& m) {
  if (m.kind == Kind::OpensWindow) return "Window | undefined";
  return m.doc.result.empty() ? m.resultType : m.doc.result;
}

std::string propertyType(const MemberInfo& m) {
  if (!m.doc.result.empty()) return m.doc.result;
  if (!m.readOnly && !m.params.empty() && vagueResult(m.resultType))
    return defaultType(m.params[0]);
  return m.resultType;
}

std::string signature(const MemberInfo& m) {
  if (m.kind == Kind::Property)
    return std::string(m.readOnly ? "readonly " : "") + m.scriptName + ": " + propertyType(m);
  std::string s = m.scriptName + "(";
  const auto ps = params(m);
  for (std::size_t i = 0; i < ps.size(); ++i) {
    if (i) s += ", ";
    s += ps[i].name + (ps[i].optional ? "?: " : ": ") + ps[i].type;
  }
  return s + "): " + resultOf(m);
}

bool hasClassMembers(const ClassInfo& cls) {
  for (const auto& m : cls.members())
    if (m.kind == Kind::ClassMethod) return true;
  return false;
}

std::vector<const ClassInfo*> classes(const PageApi& api) {
  std::vector<const ClassInfo*> out;
  auto add = [&](const ClassInfo* c) {
    for (auto* o : out)
      if (o == c) return;
    out.push_back(c);
  };
  for (const auto& o : api.objects) add(o.cls);
  for (const auto* c : api.resultClasses) add(c);
  return out;
}

std::string quoted(const std::string& s) {
  return "\"" + s + "\"";
}

void comment(std::ostringstream& out, const std::string& indent, const MemberInfo& m) {
  out << indent << "/** " << m.doc.summary;
  if (!m.doc.refused.empty()) out << " Missing or refused: " << m.doc.refused << ".";
  out << " */\n";
}

}  // namespace

std::vector<std::string> problems(const PageApi& api) {
  std::vector<std::string> out;
  for (const auto* cls : classes(api)) {
    if (cls->doc().summary.empty()) out.push_back(cls->name() + ": no summary");
    for (const auto& m : cls->members()) {
      const std::string where = cls->name() + "." + m.scriptName;
      if (m.doc.summary.empty()) out.push_back(where + ": no summary");
      if (m.kind != Kind::Property && m.doc.params.size() != m.params.size())
        out.push_back(where + ": " + std::to_string(m.params.size()) + " parameters, " +
                      std::to_string(m.doc.params.size()) + " named");
      if (m.kind != Kind::Property)
        for (std::size_t i = 0; i < m.params.size() && i < m.doc.params.size(); ++i)
          if (needsShape(m.params[i]) && m.doc.params[i].find(':') == std::string::npos)
            out.push_back(where + ": parameter " + m.doc.params[i] + " needs its type");
      const std::string result = m.kind == Kind::Property ? m.resultType : resultOf(m);
      if (m.kind != Kind::OpensWindow && m.doc.result.empty() && vagueResult(result) &&
          !(m.kind == Kind::Property && !vagueResult(propertyType(m))))
        out.push_back(where + ": result " + result + " needs its type");
    }
    for (const auto& e : cls->doc().events)
      if (e.name.empty() || e.data.empty() || e.summary.empty())
        out.push_back(cls->name() + ": an event without name, data or summary");
  }
  for (const auto& source : api.windowEvents)
    for (const auto& e : source.events)
      if (e.name.empty() || e.data.empty() || e.summary.empty())
        out.push_back(source.title + ": an event without name, data or summary");
  return out;
}

std::string typeScriptDeclarations(const PageApi& api) {
  std::ostringstream out;
  out << "// The Wendrel Desktop page API: the global MacGap object and the events the "
         "application\n"
         "// raises in its pages. Generated from the application's exports tables; do not edit.\n"
         "\n"
         "/** An event the application raises: its data is on `data` (null when it carries none). "
         "*/\n"
         "interface MacGapEvent<T> extends Event {\n"
         "  readonly data: T;\n"
         "}\n";
  for (const auto* cls : classes(api)) {
    const auto name = interfaceName(*cls);
    out << "\n/** " << cls->doc().summary << " */\n";
    out << "interface " << name << " {\n";
    if (hasClassMembers(*cls)) out << "  readonly constructor: " << name << "Constructor;\n";
    for (const auto& m : cls->members()) {
      if (m.kind == Kind::ClassMethod) continue;
      comment(out, "  ", m);
      out << "  " << signature(m) << ";\n";
    }
    out << "}\n";
    if (hasClassMembers(*cls)) {
      out << "\n/** Class-level members of " << cls->name()
          << ", on `constructor` of its objects. */\n";
      out << "interface " << name << "Constructor {\n";
      out << "  readonly prototype: " << name << ";\n";
      for (const auto& m : cls->members()) {
        if (m.kind != Kind::ClassMethod) continue;
        comment(out, "  ", m);
        out << "  " << signature(m) << ";\n";
      }
      out << "}\n";
    }
  }
  out << "\n/** The application's bridge, installed in the main frame of the web client's pages. "
         "*/\n";
  std::string root;
  for (const auto& o : api.objects)
    if (o.name.empty()) root = interfaceName(*o.cls);
  out << "interface MacGap" << (root.empty() ? "" : " extends " + root) << " {\n";
  for (const auto& o : api.objects) {
    if (o.name.empty()) continue;
    out << "  /** " << o.cls->doc().summary
        << (o.always ? "" : " Present when the web client's configuration lists it in \"plugins\".")
        << " */\n";
    out << "  readonly " << o.name << (o.always ? ": " : "?: ") << interfaceName(*o.cls) << ";\n";
  }
  out << "}\n\ndeclare var MacGap: MacGap;\n";

  auto eventMap = [&](const std::string& target) {
    std::ostringstream map;
    auto add = [&](const bridge::EventDoc& e) {
      if (e.target != target) return;
      map << "  /** " << e.summary << " */\n";
      map << "  " << quoted(e.name) << ": MacGapEvent<" << e.data << ">;\n";
    };
    for (const auto* cls : classes(api))
      for (const auto& e : cls->doc().events) add(e);
    for (const auto& source : api.windowEvents)
      for (const auto& e : source.events) add(e);
    return map.str();
  };
  out << "\n/** Events the application raises on `document`. */\n"
         "interface MacGapDocumentEventMap {\n"
      << eventMap("document")
      << "}\n"
         "interface DocumentEventMap extends MacGapDocumentEventMap {}\n"
         "\n/** Events the application raises on `window` (where the engine raises one of the same "
         "name, its own carry no data). */\n"
         "interface MacGapWindowEventMap {\n"
      << eventMap("window")
      << "}\n"
         "interface Window {\n"
         "  addEventListener<K extends keyof MacGapWindowEventMap>(type: K, listener: (this: "
         "Window, ev: MacGapWindowEventMap[K]) => any, options?: boolean | "
         "AddEventListenerOptions): void;\n"
         "  removeEventListener<K extends keyof MacGapWindowEventMap>(type: K, listener: (this: "
         "Window, ev: MacGapWindowEventMap[K]) => any, options?: boolean | "
         "EventListenerOptions): void;\n"
         "}\n";
  return out.str();
}

std::string markdownReference(const PageApi& api) {
  std::ostringstream out;
  out << "# The MacGap page API\n\n"
         "Generated from the application's exports tables by `wendrel-page-api`; do not edit "
         "(the build writes it, a test checks the copy in the tree). The same API as TypeScript "
         "declarations: `macgap.d.ts`, installed next to this file in "
         "`share/wendrel-desktop/sdk/`.\n\n"
         "Every member is synchronous: the page waits for the application's answer. Arguments "
         "are converted by their declared type (a missing argument is undefined; strings are "
         "taken by ToString, numbers by ToNumber, booleans by ToBoolean, dictionaries and arrays "
         "only when they are one) and members never throw. Events are DOM events whose data is "
         "on `event.data`.\n";
  auto events = [&](const std::vector<bridge::EventDoc>& list) {
    for (const auto& e : list)
      out << "- `" << e.name << "` on `" << e.target << "`, data `" << e.data << "`: " << e.summary
          << "\n";
  };
  auto section = [&](const std::string& title, const ClassInfo& cls, const std::string& note) {
    out << "\n## " << title << "\n\n" << cls.doc().summary << "\n";
    if (!note.empty()) out << "\n" << note << "\n";
    out << "\n";
    for (const auto& m : cls.members()) {
      out << "- `" << (m.kind == Kind::ClassMethod ? "constructor." : "") << signature(m)
          << "`: " << m.doc.summary;
      if (!m.doc.refused.empty()) out << " Missing or refused: " << m.doc.refused << ".";
      out << "\n";
    }
    if (!cls.doc().events.empty()) {
      out << "\nEvents:\n\n";
      events(cls.doc().events);
    }
  };
  for (const auto& o : api.objects) {
    if (o.name.empty()) {
      section("MacGap", *o.cls, "");
      continue;
    }
    section("MacGap." + o.name, *o.cls,
            o.always ? "Installed in every page."
                     : "Installed when the web client's configuration lists \"" + o.name +
                           "\" in \"plugins\".");
  }
  for (const auto* c : api.resultClasses)
    section(c->name(), *c, "Reached through the results of other members.");
  for (const auto& source : api.windowEvents) {
    out << "\n## " << source.title << "\n\n" << source.summary << "\n\n";
    events(source.events);
  }
  return out.str();
}

}  // namespace wd::sdk
