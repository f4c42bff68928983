/**
 * Checks that a JSON value the tool wrote has the members a type promises.
 * A value that fails is not the tool's documented answer: "crashed".
 */
import { TolvaSpeechError } from "./errors.js";

export type Kind = "string" | "number" | "boolean" | "array" | "object";

/** Members and their kinds; a trailing "?" on a kind makes it optional. */
export type Shape = Record<string, Kind | `${Kind}?`>;

function kindOf(value: unknown): Kind | "null" | "other" {
  if (value === null) return "null";
  if (Array.isArray(value)) return "array";
  const type = typeof value;
  return type === "string" || type === "number" || type === "boolean" || type === "object" ? type : "other";
}

export function isObject(value: unknown): value is Record<string, unknown> {
  return kindOf(value) === "object";
}

/** `value` as a T once every member of `shape` is there with its kind;
 * members beyond the shape are kept as they came. */
export function checked<T>(value: unknown, shape: Shape, what: string): T {
  if (!isObject(value)) throw new TolvaSpeechError("crashed", `the tool's ${what} is not a JSON object`);
  for (const [key, expected] of Object.entries(shape)) {
    const optional = expected.endsWith("?");
    const kind = optional ? expected.slice(0, -1) : expected;
    if (!(key in value) && optional) continue;
    if (kindOf(value[key]) !== kind) {
      throw new TolvaSpeechError("crashed", `the tool's ${what} has no ${kind} '${key}'`, JSON.stringify(value).slice(0, 200));
    }
  }
  return value as T;
}
