#include "vantelkit/scanning/FileNode.h"

#include "vantelkit/formats/ApplicationIcon.h"
#include "vantelkit/platform/Workspace.h"

namespace vantelkit {

std::optional<FileNode::NodeType> FileNode::nodeTypeFromRawValue(int rawValue) {
  if (rawValue < 0 || rawValue > 10) return std::nullopt;
  return static_cast<NodeType>(rawValue);
}

std::string_view FileNode::nodeTypeName(NodeType type) {
  switch (type) {
    case NodeType::none: return "none";
    case NodeType::file: return "file";
    case NodeType::directory: return "directory";
    case NodeType::block: return "block";
    case NodeType::character: return "char";
    case NodeType::link: return "link";
    case NodeType::socket: return "socket";
    case NodeType::fifo: return "fifo";
    case NodeType::bad: return "bad";
    case NodeType::string: return "string";
    case NodeType::complex: return "complex";
  }
  return "none";
}

std::string_view FileNode::codingKeyName(CodingKeys key) {
  switch (key) {
    case CodingKeys::url: return "url";
    case CodingKeys::size: return "size";
    case CodingKeys::children: return "children";
    case CodingKeys::parent: return "parent";
    case CodingKeys::type: return "type";
    case CodingKeys::fileExtension: return "fileExtension";
    case CodingKeys::icon: return "icon";
    case CodingKeys::kind: return "kind";
    case CodingKeys::allParents: return "allParents";
  }
  return "";
}

FileNode::FileNode(FileURL url, const std::shared_ptr<FileNode>& parent, std::int64_t size, NodeType type)
    : _url(std::move(url)), _size(size), _parent(parent), _type(type) {}

FileNode::~FileNode() {
  if (_children.empty()) return;
  // Children whose last owner is this node would free their own children from inside this
  // destructor, one stack frame per level. They are parked instead and released one after
  // the other by the outermost destructor on the thread.
  thread_local std::vector<std::shared_ptr<FileNode>> parked;
  thread_local bool draining = false;
  for (auto& child : _children) parked.push_back(std::move(child));
  _children.clear();
  if (draining) return;
  draining = true;
  while (!parked.empty()) {
    auto last = std::move(parked.back());
    parked.pop_back();
    last.reset();
  }
  draining = false;
  parked.shrink_to_fit();
}

std::shared_ptr<FileNode> FileNode::make(FileURL url, const std::shared_ptr<FileNode>& parent, std::int64_t size,
                                         NodeType type) {
  return std::make_shared<FileNode>(std::move(url), parent, size, type);
}

std::string FileNode::kind() const { return platform::Workspace::shared().localizedTypeDescription(_url.path()); }

platform::Image FileNode::icon() const { return iconForFile(_url.path()); }

std::vector<std::shared_ptr<FileNode>> FileNode::allParents() const {
  std::vector<std::shared_ptr<FileNode>> parents;
  for (auto node = _parent.lock(); node; node = node->_parent.lock()) parents.push_back(node);
  return parents;
}

Value FileNode::encode() const {
  Value::Dictionary dictionary;
  dictionary.emplace(codingKeyName(CodingKeys::url), Value(_url.absoluteString()));
  dictionary.emplace(codingKeyName(CodingKeys::size), Value(size()));
  Value::Array children;
  children.reserve(_children.size());
  for (const auto& child : _children) children.push_back(child->encode());
  dictionary.emplace(codingKeyName(CodingKeys::children), Value(std::move(children)));
  auto parent = _parent.lock();
  dictionary.emplace(codingKeyName(CodingKeys::parent), Value(parent ? parent->_url.absoluteString() : std::string()));
  dictionary.emplace(codingKeyName(CodingKeys::type), Value(static_cast<std::int64_t>(_type)));
  return Value(std::move(dictionary));
}

namespace {

using Case = FileNodeDecodingError::Case;

std::shared_ptr<FileNode> decodeNode(const Value& value, const std::shared_ptr<FileNode>& parent, ErrorPtr& error) {
  auto fail = [&error](Case errorCase, FileNode::CodingKeys key) -> std::shared_ptr<FileNode> {
    error = makeError<FileNodeDecodingError>(errorCase, std::string(FileNode::codingKeyName(key)));
    return nullptr;
  };
  using Key = FileNode::CodingKeys;
  if (!value.dictionary()) return fail(Case::typeMismatch, Key::url);
  auto member = [&value](Key key) { return value.find(FileNode::codingKeyName(key)); };

  const Value* urlValue = member(Key::url);
  if (!urlValue) return fail(Case::keyNotFound, Key::url);
  if (!urlValue->text()) return fail(Case::typeMismatch, Key::url);
  auto url = FileURL::fromAbsoluteString(*urlValue->text());
  if (!url) return fail(Case::dataCorrupted, Key::url);

  const Value* sizeValue = member(Key::size);
  if (!sizeValue) return fail(Case::keyNotFound, Key::size);
  auto size = sizeValue->integer();
  if (!size) return fail(Case::typeMismatch, Key::size);

  const Value* childrenValue = member(Key::children);
  if (!childrenValue) return fail(Case::keyNotFound, Key::children);
  if (!childrenValue->array()) return fail(Case::typeMismatch, Key::children);

  const Value* parentValue = member(Key::parent);
  if (!parentValue) return fail(Case::keyNotFound, Key::parent);
  if (!parentValue->text()) return fail(Case::typeMismatch, Key::parent);

  const Value* typeValue = member(Key::type);
  if (!typeValue) return fail(Case::keyNotFound, Key::type);
  auto rawType = typeValue->integer();
  if (!rawType) return fail(Case::typeMismatch, Key::type);
  if (*rawType < 0 || *rawType > 10) return fail(Case::dataCorrupted, Key::type);
  auto type = *FileNode::nodeTypeFromRawValue(static_cast<int>(*rawType));

  auto node = FileNode::make(*url, parent, *size, type);
  std::vector<std::shared_ptr<FileNode>> children;
  children.reserve(childrenValue->array()->size());
  for (const auto& childValue : *childrenValue->array()) {
    auto child = decodeNode(childValue, node, error);
    if (!child) return nullptr;
    children.push_back(std::move(child));
  }
  node->setChildren(std::move(children));
  return node;
}

}  // namespace

Result<std::shared_ptr<FileNode>> FileNode::decode(const Value& value) {
  ErrorPtr error;
  auto node = decodeNode(value, nullptr, error);
  if (!node) return error;
  return node;
}

std::string FileNodeDecodingError::description() const {
  switch (_case) {
    case Case::keyNotFound: return "keyNotFound(" + _key + ")";
    case Case::typeMismatch: return "typeMismatch(" + _key + ")";
    case Case::dataCorrupted: return "dataCorrupted(" + _key + ")";
  }
  return "dataCorrupted";
}

}  // namespace vantelkit
